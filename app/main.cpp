#include "app/PublishTaviskApp.h"
#include "platform/LeakCheck.h"

#include <QApplication>
#include <clocale>
#include <malloc.h>

namespace {

// Each time it goes on air the engine starts a dozen short-lived media threads.
// Left alone, glibc gives them arenas of their own, up to eight per core, each
// keeping memory it never hands back, and after the first large block is freed
// it stops giving large blocks mappings of their own: a long session's footprint
// creeps up with every on-air period.
constexpr int kMallocArenas = 2;
constexpr int kOwnMappingFromBytes = 128 * 1024;

void KeepFootprintFlat()
{
    mallopt(M_ARENA_MAX, kMallocArenas);
    mallopt(M_MMAP_THRESHOLD, kOwnMappingFromBytes);
}

}  // namespace

int main(int argc, char** argv)
{
    KeepFootprintFlat();  // before any thread starts
    // Without it every sibling of the native video frame becomes an X window too.
    QCoreApplication::setAttribute(Qt::AA_DontCreateNativeWidgetSiblings);
    {
        QApplication app(argc, argv);
        // Settings and engine text are in the locale's character set.
        std::setlocale(LC_ALL, "");
        theApp.InitInstance();
    }
    CheckForLeaksBeforeExit();
    return 0;
}
