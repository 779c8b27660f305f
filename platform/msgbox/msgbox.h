#pragma once
// The one way the program puts a message in front of the user. The logic calls
// show(); the installed back end decides how the box appears: QMessageBox in the
// program, a scripted back end in tests.

#include <deque>
#include <string>
#include <vector>

class QWidget;

namespace msgbox {

enum class Buttons { Ok, OkCancel, YesNo, YesNoCancel };
enum class Icon { None, Error, Warning, Question, Information };
// The Windows answer codes.
enum Answer : int { IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7 };

struct Box {
    std::string caption;
    std::string text;
    Buttons buttons = Buttons::Ok;
    Icon icon = Icon::None;
    int defaultButton = 0; // index among the buttons, 0 = first
    QWidget* owner = nullptr;
};

class Backend {
public:
    virtual ~Backend() = default;
    virtual Answer ask(const Box& box) = 0;
};

// Shows a box through the installed back end (QMessageBox when none was set),
// always on the user-interface thread: a call from another thread waits there
// for the answer.
Answer show(const Box& box);
Answer show(QWidget* owner, const std::string& text, const std::string& caption,
            Buttons buttons = Buttons::Ok, Icon icon = Icon::None, int defaultButton = 0);

// Installs a back end for the process; nullptr restores QMessageBox.
void setBackend(Backend* backend);

class QtBackend : public Backend {
public:
    Answer ask(const Box& box) override;
};

// Records every box and answers from a queue (then with fallback).
class ScriptedBackend : public Backend {
public:
    Answer ask(const Box& box) override;
    std::vector<Box> shown;
    std::deque<Answer> answers;
    Answer fallback = IDOK;
};

// Installs a ScriptedBackend for the lifetime of the object.
class ScopedScript {
public:
    ScopedScript();
    ~ScopedScript();
    ScopedScript(const ScopedScript&) = delete;
    ScopedScript& operator=(const ScopedScript&) = delete;
    ScriptedBackend script;
};

} // namespace msgbox
