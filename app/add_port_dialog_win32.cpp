#include "app/add_port_dialog.h"

#include <vector>

#include <windows.h>

#include "app/add_port_input.h"

namespace {

constexpr const char* kTemplateName = "PORT_DIALOG";

// Filled by a check run that passed completely; lives for the whole run.
cUPnP::cEntry& DialogRecord() {
    static cUPnP::cEntry record;
    return record;
}

// The control's text, or empty when the dialog has no control `id`.
std::string GetControlText(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    if (!control)
        return std::string();
    const int length = GetWindowTextLengthA(control);
    std::vector<char> buffer(length + 1, '\0');
    const int copied = GetWindowTextA(control, buffer.data(), length + 1);
    return std::string(buffer.data(), copied > 0 ? copied : 0);
}

bool ValidateAddPortDialog(HWND dialog) {
    const cAddPortInput input =
        ReadAddPortInput([dialog](int id) { return GetControlText(dialog, id); });
    return ValidateAddPortInput(input, DialogRecord());
}

void FillDefaults(HWND dialog) {
    const cAddPortInput defaults = DefaultAddPortInput();
    if (HWND protocols = GetDlgItem(dialog, kFieldProtocol)) {
        for (const char* protocol : kProtocols)
            SendMessageA(protocols, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(protocol));
        SendMessageA(protocols, CB_SETCURSEL, 0, 0);
    }
    SetDlgItemTextA(dialog, kFieldExternalPort, defaults.externalPort.c_str());
    SetDlgItemTextA(dialog, kFieldInternalPort, defaults.internalPort.c_str());
    if (!defaults.internalClient.empty())
        SetDlgItemTextA(dialog, kFieldInternalClient, defaults.internalClient.c_str());
}

INT_PTR CALLBACK AddPortDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        FillDefaults(dialog);
        return TRUE;
    case WM_CLOSE:
        EndDialog(dialog, IDCANCEL);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            if (ValidateAddPortDialog(dialog))
                EndDialog(dialog, IDOK);
            else
                MessageBoxA(dialog, kInvalidInputText, kInvalidInputCaption, MB_OK);
            break;
        case IDCANCEL:
            EndDialog(dialog, IDCANCEL);
            break;
        default:
            break;
        }
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

bool ShowAddPortDialog(gui::tHandle owner, cUPnP::cEntry& entry) {
    const INT_PTR result = DialogBoxParamA(GetModuleHandleA(nullptr), kTemplateName,
                                           static_cast<HWND>(owner), AddPortDialogProc, 0);
    if (result != IDOK)
        return false;
    const cUPnP::cEntry& record = DialogRecord();
    entry.protocol = record.protocol;
    entry.internalClient = record.internalClient;
    entry.description = record.description;
    entry.enabled = record.enabled;
    entry.externalPort = record.externalPort;
    entry.internalPort = record.internalPort;
    return true;
}
