// The main thread's last-chance guard. Once installed, an exception nothing
// else handled (Windows: a structured exception; Linux: a fatal signal) is
// logged at FATAL as its CSEHException text, the user is asked ("Internal
// error") whether to send an error report, which then goes to the support
// tool, and the process ends at once with exit code 0xFFFFFFFF (Linux:
// 255): no destructor, settings save or "Exit" line runs.
#ifndef WEBCAMWIN_LAST_CHANCE_H_
#define WEBCAMWIN_LAST_CHANCE_H_

class CSEHException;

void installLastChanceGuard();

// What the guard does with a caught exception; never returns.
[[noreturn]] void handleLastChance(const CSEHException& exception);

// The question shown to the user.
constexpr char16_t kInternalErrorCaption[] = u"Internal error";
constexpr char16_t kInternalErrorText[] =
    u"Internal error, programm will be terminated. If this error will be occured again, "
    u"please request our support.\r\n\r\nDo you want send error report now?";

#endif  // WEBCAMWIN_LAST_CHANCE_H_
