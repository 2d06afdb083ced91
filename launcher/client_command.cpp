#include "launcher/client_command.h"

ClientStart ComposeClientStart(const std::wstring& workFolder, bool playbackClient) {
    std::wstring client = playbackClient ? kPlaybackClientFragment : kAlternativeClientFragment;
    ClientStart start;
    start.programPath = workFolder + client.substr(0, client.size() - 1);
    start.configPath =
        workFolder + (playbackClient ? kPlaybackConfigFragment : kAlternativeConfigFragment);
    if (workFolder.find(L' ') == std::wstring::npos) {
        start.commandLine = workFolder + client + start.configPath;
    } else {
        client.pop_back();  // the separating blank goes between the quoted paths
        start.commandLine = L"\"" + workFolder + client + L"\" \"" + start.configPath + L"\"";
    }
    return start;
}
