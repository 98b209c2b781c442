// set.ini as a user may leave it: both readers agree, and what the dialog read is
// saved and reads back unchanged. Input: the file's bytes.
#include "FuzzSupport.h"

#include "settings/SettingsFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string path = ScratchFolder() + "/set.ini";
    WriteFileBytes(path, InputText(data, size));

    PublishSettings dialog;
    ReadDialogSettings(path, dialog);
    PublishSettings onAir;
    const bool loaded = ReadOnAirSettings(path, onAir);
    Require(loaded == !dialog.m_strScheduleSvr.empty(), "going on air refuses only an empty address");
    if (loaded) {
        PublishSettings expected = dialog;
        expected.m_iVdBitRate = ToBitsPerSecond(dialog.m_iVdBitRate);
        expected.m_iAdBitRate = ToBitsPerSecond(dialog.m_iAdBitRate);
        Require(onAir == expected, "both readers read the same values, bitrates in bit/s on air");
    }

    Require(WriteSettingsFile(path, dialog), "what was read can be saved");
    PublishSettings reread;
    ReadDialogSettings(path, reread);
    Require(reread == dialog, "what was saved reads back unchanged");
    return 0;
}
