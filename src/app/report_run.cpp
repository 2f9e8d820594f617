// The machine report run (`-report FILE`) and the message boxes of a report, saved or not.
#include "app/tavrol_app.h"

#include <string.h>

#include "../../res/resource.h"
#include "agpcfg/agpcfg.h"
#include "app/machine_report.h"

namespace {

const int kMessageSize = 1024;

// Which text says why a write failed; 0 for an error that has none, whose code is shown.
UINT reasonOf(DWORD error) {
    switch (error) {
    case ERROR_PATH_NOT_FOUND:
    case ERROR_FILE_NOT_FOUND: // a folder missing on the way, as Windows 9x says it
        return IDS_REPORT_NO_FOLDER;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_WRITE_PROTECT:
        return IDS_REPORT_READ_ONLY;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return IDS_REPORT_DISK_FULL;
    default:
        return 0;
    }
}

// `format` with each "%s" replaced by the next of `a` and `b`, bounded to `size` bytes.
void fillIn(char* out, size_t size, const char* format, const char* a, const char* b) {
    const char* values[2] = {a, b};
    int next = 0;
    size_t length = 0;
    for (const char* at = format; *at && length + 1 < size; ++at) {
        if (at[0] == '%' && at[1] == 's' && next < 2) {
            const char* value = values[next++];
            for (; *value && length + 1 < size; ++value)
                out[length++] = *value;
            ++at;
            continue;
        }
        out[length++] = *at;
    }
    out[length] = '\0';
}

void loadText(UINT id, char* text, int size) {
    if (AfxLoadString(id, text, size) <= 0)
        text[0] = '\0';
}

} // namespace

void CTavrolApp::runReport(const char* file) {
    HMODULE resources = loadResourceLibrary(TAVROL_RESOURCE_LIBRARY);
    if (!resources) {
        AfxShowMessageBox(nullptr, TAVROL_RESOURCE_LIBRARY_MISSING, TAVROL_TITLE, MB_ICONERROR);
        m_exitCode = 1;
        return;
    }
    if (!file) {
        char text[kMessageSize];
        loadText(IDS_REPORT_NO_FILE, text, sizeof text);
        AfxShowMessageBox(nullptr, text, TAVROL_TITLE, MB_ICONWARNING);
        m_exitCode = 1;
    } else {
        createController();
        DWORD error = ERROR_NOT_ENOUGH_MEMORY;
        int result =
            m_pAgpConfig ? writeMachineReport(m_pAgpConfig, file, &error) : REPORT_WRITE_FAILED;
        if (result != REPORT_SAVED) {
            showReportOutcome(file, result, error);
            m_exitCode = 1;
        }
        tearDown();
    }
    AfxSetResourceHandle(m_hInstance);
    FreeLibrary(resources);
}

void CTavrolApp::showReportOutcome(const char* path, int result, DWORD error) {
    char format[kMessageSize];
    char message[kMessageSize];
    if (result == REPORT_SAVED) {
        loadText(IDS_REPORT_SAVED, format, sizeof format);
        fillIn(message, sizeof message, format, path, "");
        AfxShowMessageBox(nullptr, message, TAVROL_TITLE, MB_ICONINFORMATION);
        return;
    }
    char reason[kMessageSize];
    char text[kMessageSize];
    if (result == REPORT_NO_FUNCTIONS) {
        // What support needs is why the channel reached nothing: discovery's code says it.
        loadText(IDS_REPORT_NO_PCI, text, sizeof text);
        formatAgpMessage(reason, sizeof reason, text,
                         m_pAgpConfig ? m_pAgpConfig->getInitError() : 0);
    } else if (result == REPORT_NO_SAVE_AS) {
        loadText(IDS_REPORT_NO_SAVE_AS, text, sizeof text);
        formatAgpMessage(reason, sizeof reason, text, (int)error);
    } else if (UINT id = reasonOf(error)) {
        loadText(id, reason, sizeof reason);
    } else {
        loadText(IDS_REPORT_WRITE_ERROR, text, sizeof text);
        formatAgpMessage(reason, sizeof reason, text, (int)error);
    }
    loadText(path ? IDS_REPORT_FAILED : IDS_REPORT_FAILED_NO_PATH, format, sizeof format);
    if (path)
        fillIn(message, sizeof message, format, path, reason);
    else
        fillIn(message, sizeof message, format, reason, "");
    AfxShowMessageBox(nullptr, message, TAVROL_TITLE, MB_ICONWARNING);
}
