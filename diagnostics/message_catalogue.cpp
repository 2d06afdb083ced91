#include "diagnostics/message_catalogue.h"

#include "common/wide_format.h"

// Message templates (the platform's message-formatting syntax): each says what
// happened and what the user can do, names the file or drive in %1, and ends
// with the problem number.
std::map<std::wstring, std::wstring> StartUpMessageCatalogue() {
    return {
        {L"10004",
         L"The package %1 is damaged or incomplete: some of its files could not be unpacked.\n\n"
         L"Download the package again (the download may have been cut short) and start the new "
         L"copy. If that does not help, ask the sender of the package for a new one.\n\n"
         L"Problem number: 202"},
        {L"10005",
         L"There is not enough free space on drive %1 to unpack the package: it needs %2, and %3 "
         L"is free.\n\n"
         L"Free up space on drive %1 (empty the Recycle Bin, remove files you no longer need), "
         L"then start the package again.\n\n"
         L"Problem number: 203"},
        {L"10008",
         L"The playback program %1 was blocked by a policy of this computer and could not "
         L"start.\n\n"
         L"Ask your administrator to allow this program to run from your temporary folder, then "
         L"start the package again.\n\n"
         L"Problem number: 204"},
        {L"10009",
         L"The file %1 was blocked or removed by antivirus software, so the playback could not "
         L"start.\n\n"
         L"Look in the quarantine or history of your antivirus software. If you trust this "
         L"package, ask your administrator to allow it, then start the package again.\n\n"
         L"Problem number: 205"},
        {L"10011",
         L"The playback program %1 could not be started, or it ended at once (%2).\n\n"
         L"Start the package again. If the problem stays, the program may need a component that "
         L"is missing on this computer: ask your administrator or the sender of the "
         L"package.\n\n"
         L"Problem number: 206"},
        {L"10012",
         L"The path %1 is too long for this computer, so the package could not be unpacked.\n\n"
         L"Ask your administrator to set a shorter temporary folder (the TEMP setting), or ask "
         L"the sender of the package for one with shorter file names.\n\n"
         L"Problem number: 207"},
    };
}

std::map<std::wstring, std::wstring> MessageCatalogue = StartUpMessageCatalogue();

bool LookUpMessage(unsigned messageNumber, wchar_t* output, size_t capacity) {
    wchar_t key[34];
    FormatWide(key, 34, L"%u", messageNumber);
    return LookUpMessageText(key, output, capacity);
}

bool LookUpMessageText(const wchar_t* key, wchar_t* output, size_t capacity) {
    if (output == nullptr || capacity == 0) {
        return false;
    }
    auto found = MessageCatalogue.find(key);
    if (found == MessageCatalogue.end() || found->second.empty()) {
        output[0] = L'\0';
        return false;
    }
    size_t length = found->second.copy(output, capacity - 1);
    output[length] = L'\0';
    return true;
}
