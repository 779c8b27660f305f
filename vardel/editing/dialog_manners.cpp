#include "vardel/editing/dialog_manners.h"

#include "platform/help/help.h"
#include "platform/msgbox/msgbox.h"
#include "vardel/resources/string_table.h"

#include <QAbstractItemView>
#include <QCoreApplication>
#include <QDialog>
#include <QFocusFrame>
#include <QKeySequence>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QShortcut>
#include <QTextCursor>
#include <QTextDocument>
#include <QValidator>
#include <algorithm>

namespace editing {

namespace {

// One-to-one case mapping, so that a text keeps its length.
QString upper(const QString& text) {
    QString out = text;
    for (QChar& c : out)
        c = c.toUpper();
    return out;
}

class UpperCaseValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        input = upper(input);
        return Acceptable;
    }
};

// Moves the focus frame onto the multi-line field or list that has the focus.
// The frame becomes a child of the widget's parent and goes with it, so it is
// held weakly and made again when needed.
class FocusFrameFollower : public QObject {
public:
    FocusFrameFollower(QDialog* dialog)
        : QObject(dialog), m_dialog(dialog), m_frame(new QFocusFrame(dialog)) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::FocusIn) {
            if (!m_frame)
                m_frame = new QFocusFrame(m_dialog);
            m_frame->setWidget(static_cast<QWidget*>(watched));
        } else if (event->type() == QEvent::FocusOut && m_frame && m_frame->widget() == watched) {
            m_frame->setWidget(nullptr);
        }
        return false;
    }

private:
    QDialog* m_dialog;
    QPointer<QFocusFrame> m_frame;
};

} // namespace

void FrameworkMessageBox(QWidget* owner, const std::string& text) {
    msgbox::show(owner, text, toStd(QCoreApplication::applicationName()), msgbox::Buttons::Ok,
                 msgbox::Icon::Warning);
}

void FrameworkMaxCharsBox(QWidget* owner, int limit) {
    FrameworkMessageBox(owner, toStd(toQt(LoadString(IDS_FRAMEWORK_MAX_CHARS)).arg(limit)));
}

void ApplyDialogManners(QDialog* dialog) {
    auto* helpKey = new QShortcut(QKeySequence(Qt::Key_F1), dialog);
    QObject::connect(helpKey, &QShortcut::activated, dialog,
                     [dialog] { help::openHelpContents(dialog, "Vardel.hlp"); });
    QList<QWidget*> fields;
    for (QPlainTextEdit* field : dialog->findChildren<QPlainTextEdit*>())
        fields.append(field);
    for (QAbstractItemView* view : dialog->findChildren<QAbstractItemView*>())
        fields.append(view);
    if (fields.isEmpty())
        return;
    auto* follower = new FocusFrameFollower(dialog);
    for (QWidget* field : fields)
        field->installEventFilter(follower);
}

void KeepUpperCase(QLineEdit* edit) {
    edit->setValidator(new UpperCaseValidator(edit));
}

void KeepUpperCase(QPlainTextEdit* edit) {
    QTextDocument* document = edit->document();
    QObject::connect(document, &QTextDocument::contentsChange, edit,
                     [document](int position, int, int added) {
                         if (added <= 0)
                             return;
                         QTextCursor range(document);
                         range.setPosition(position);
                         // The count may take in the document's closing separator.
                         const int end = std::min(position + added, document->characterCount() - 1);
                         range.setPosition(end, QTextCursor::KeepAnchor);
                         const QString typed = range.selectedText();
                         const QString capitals = upper(typed);
                         if (capitals != typed)
                             range.insertText(capitals); // the change it makes is already upper case
                     });
}

void AcceptDigitsOnly(QLineEdit* edit) {
    edit->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), edit));
}

} // namespace editing
