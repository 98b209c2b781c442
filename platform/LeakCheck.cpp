#include "platform/LeakCheck.h"

#if defined(__SANITIZE_ADDRESS__)
#define TAVISK_LEAK_CHECKER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TAVISK_LEAK_CHECKER 1
#endif
#endif

#ifdef TAVISK_LEAK_CHECKER
#include <sanitizer/lsan_interface.h>
#endif

void CheckForLeaksBeforeExit()
{
#ifdef TAVISK_LEAK_CHECKER
    __lsan_do_leak_check();
#endif
}
