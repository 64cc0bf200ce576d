/* Runs a Windows program and answers its message boxes, for the tests under
 * Wine. Each box the program shows is written to standard error as one
 * "CAPTION: TEXT" line, the form in which the Linux layer reports a box, and
 * then closed with its default button, as a user pressing Enter would. The
 * program's exit status becomes this one's.
 *
 * Usage: boxrunner PROGRAM [ARGUMENTS...]  (the rest of the command line is
 * handed to CreateProcessA unchanged).
 *
 * Without a window driver Wine cannot create windows at all and MessageBoxA
 * returns at once; the test prefix uses the null driver, with which a box
 * blocks until it is answered, as on Windows. */
#include <windows.h>

#define MAX_BOXES 64
#define MAX_TEXT 4096
#define POLL_MILLISECONDS 20

static DWORD childProcessId;
static HWND answeredBoxes[MAX_BOXES];
static int answeredCount;

typedef struct {
    char bytes[MAX_TEXT];
    int length;
} TextBuffer;

static void Append(TextBuffer* buffer, const char* text, int length)
{
    if (length > MAX_TEXT - buffer->length) length = MAX_TEXT - buffer->length;
    CopyMemory(buffer->bytes + buffer->length, text, length);
    buffer->length += length;
}

static void WriteToStandardError(const TextBuffer* buffer)
{
    DWORD written;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), buffer->bytes, buffer->length, &written, NULL);
}

static BOOL CALLBACK CollectStaticText(HWND control, LPARAM parameter)
{
    TextBuffer* text = (TextBuffer*)parameter;
    char className[32];
    char controlText[MAX_TEXT];
    int length;
    if (GetClassNameA(control, className, sizeof className) == 0 || lstrcmpiA(className, "Static") != 0) return TRUE;
    length = GetWindowTextA(control, controlText, sizeof controlText);
    /* The icon is a static control without text. */
    if (length > 0) Append(text, controlText, length);
    return TRUE;
}

static BOOL AlreadyAnswered(HWND box)
{
    int i;
    for (i = 0; i < answeredCount; ++i)
        if (answeredBoxes[i] == box) return TRUE;
    return FALSE;
}

static BOOL CALLBACK AnswerBox(HWND window, LPARAM unused)
{
    DWORD processId = 0;
    char className[16];
    char caption[MAX_TEXT];
    int captionLength;
    TextBuffer line;
    LRESULT defaultButton;
    WORD buttonId = IDOK;
    (void)unused;

    GetWindowThreadProcessId(window, &processId);
    if (processId != childProcessId) return TRUE;
    if (GetClassNameA(window, className, sizeof className) == 0 || lstrcmpA(className, "#32770") != 0) return TRUE;
    /* A box is shown once its controls are filled in. */
    if (!IsWindowVisible(window) || AlreadyAnswered(window)) return TRUE;

    line.length = 0;
    captionLength = GetWindowTextA(window, caption, sizeof caption);
    Append(&line, caption, captionLength);
    Append(&line, ": ", 2);
    EnumChildWindows(window, CollectStaticText, (LPARAM)&line);
    Append(&line, "\n", 1);
    WriteToStandardError(&line);

    defaultButton = SendMessageA(window, DM_GETDEFID, 0, 0);
    if (HIWORD(defaultButton) == DC_HASDEFID) buttonId = LOWORD(defaultButton);
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED), (LPARAM)GetDlgItem(window, buttonId));
    if (answeredCount < MAX_BOXES) answeredBoxes[answeredCount++] = window;
    return TRUE;
}

/* The command line after this program's own name. */
static char* ChildCommandLine(void)
{
    char* cursor = GetCommandLineA();
    if (*cursor == '"') {
        ++cursor;
        while (*cursor != '\0' && *cursor != '"')
            ++cursor;
        if (*cursor == '"') ++cursor;
    } else {
        while (*cursor != '\0' && *cursor != ' ' && *cursor != '\t')
            ++cursor;
    }
    while (*cursor == ' ' || *cursor == '\t')
        ++cursor;
    return cursor;
}

int main(void)
{
    STARTUPINFOA startup;
    PROCESS_INFORMATION child;
    DWORD exitCode = 0;
    char* commandLine = ChildCommandLine();

    if (*commandLine == '\0') {
        static const char usage[] = "usage: boxrunner PROGRAM [ARGUMENTS...]\n";
        DWORD written;
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), usage, sizeof usage - 1, &written, NULL);
        return 2;
    }
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    if (!CreateProcessA(NULL, commandLine, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &child)) {
        static const char failed[] = "boxrunner: the program could not be started\n";
        DWORD written;
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), failed, sizeof failed - 1, &written, NULL);
        return 125;
    }
    childProcessId = child.dwProcessId;
    while (WaitForSingleObject(child.hProcess, POLL_MILLISECONDS) == WAIT_TIMEOUT)
        EnumWindows(AnswerBox, 0);
    GetExitCodeProcess(child.hProcess, &exitCode);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    return (int)exitCode;
}
