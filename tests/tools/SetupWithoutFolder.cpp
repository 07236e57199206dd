// Setup's run on a machine that cannot tell Setup its own folder: the one message of Setup that no
// folder of installation files can bring about, shown through the real code, for its picture.
#include "Setup.h"
#include "Win32Platform.h"

namespace {

class NoFolderPlatform : public tolvanex::Win32Platform {
  public:
    std::optional<std::wstring> ProgramDirectory() override { return std::wstring(); }
};

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    NoFolderPlatform platform;
    return tolvanex::setup::RunSetup(platform);
}
