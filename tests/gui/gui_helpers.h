// Shared pieces of the window tests: message boxes answered by the test,
// modal windows handled while they run, and firmware files written on the
// fly.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <fstream>
#include <functional>
#include <source_location>
#include <string>
#include <vector>

#include "desktop_qt/mirdelapp.h"
#include "tests/firmware/records.h"

// Records every message box the code under test raises and answers it.
class MessageRecorder
{
  public:
    explicit MessageRecorder(AppAnswer answer = APP_ANSWER_OK) : answer_(answer)
    {
        AppSetMessageBoxHook([this](const AppMessage &m) {
            messages.push_back(m);
            if (onMessage)
                onMessage(m);
            if (m.buttons == APP_BUTTONS_OK)
                return APP_ANSWER_OK;
            return answer_;
        });
    }
    ~MessageRecorder() { AppSetMessageBoxHook(nullptr); }
    MessageRecorder(const MessageRecorder &) = delete;
    MessageRecorder &operator=(const MessageRecorder &) = delete;

    void Answer(AppAnswer a) { answer_ = a; }
    std::string Text(size_t i) const { return i < messages.size() ? messages[i].text : ""; }

    std::vector<AppMessage> messages;
    std::function<void(const AppMessage &)> onMessage; // called inside the box

  private:
    AppAnswer answer_;
};

// Owns the pending WhenModal watchers.
inline QObject &WhenModalOwner()
{
    static QObject owner;
    return owner;
}

// Drops the watchers still waiting, so that none outlives its test. Call it
// from the test class's cleanup().
inline void CancelWhenModal()
{
    for (QObject *o : WhenModalOwner().children())
        delete o;
}

// Calls handler with the application's active modal window as soon as one
// of type T is up and visible (looked for every 10 ms from whatever event
// loop runs, normally the exec() that shows it). The handler must close the
// window before it returns (reject(), accept(), a click or key that closes
// it); it may register further watchers for windows that come next.
//
// Neither a handler that did not take nor a window that never came can hang
// the test: a window still open after its handler has run is closed with
// QDialog::done(Rejected) and the test fails with a message, and so does a
// window that is not up within timeoutMs (a bound against hangs only).
template <typename T>
void WhenModal(std::function<void(T *)> handler, int timeoutMs = 60000,
               std::source_location where = std::source_location::current())
{
    auto *timer = new QTimer(&WhenModalOwner());
    QElapsedTimer clock;
    clock.start();
    QObject::connect(timer, &QTimer::timeout, [timer, handler, clock, timeoutMs, where] {
        auto fail = [&where](const QString &what) {
            QTest::qFail(qPrintable("WhenModal<" + QString(T::staticMetaObject.className()) +
                                    ">: " + what),
                         where.file_name(), static_cast<int>(where.line()));
        };
        T *w = qobject_cast<T *>(QApplication::activeModalWidget());
        if (w && w->isVisible()) {
            timer->stop();
            timer->deleteLater();
            QPointer<QWidget> window(w);
            handler(w);
            if (window && window->isVisible()) {
                fail("'" + window->windowTitle() + "' still open after its handler; closed");
                if (auto *d = qobject_cast<QDialog *>(window.data()))
                    d->done(QDialog::Rejected);
                else
                    window->close();
            }
            return;
        }
        if (clock.elapsed() > timeoutMs) {
            timer->stop();
            timer->deleteLater();
            fail(QString("no such window within %1 ms").arg(timeoutMs));
        }
    });
    timer->start(10);
}

// Puts path into a file dialog's file name field and accepts the dialog;
// false when the dialog does not take it (it is then still open).
// selectFile() would not do: it leaves the field alone while the field has
// the focus, which it gets as soon as the window is activated.
inline bool ChooseFile(QFileDialog *dialog, const QString &path)
{
    auto *field = dialog->findChild<QLineEdit *>("fileNameEdit");
    if (!field)
        return false;
    field->setText(path);
    if (dialog->selectedFiles() != QStringList{path})
        return false;
    static_cast<QDialog *>(dialog)->accept(); // QFileDialog's own, checking the file
    return !dialog->isVisible();
}

// One image of a firmware file: S0 with the base address and name, data
// records of recordBytes each from loadAddress on, and the closing S9.
inline std::vector<std::string> ImageLines(uint32_t base, const std::string &name,
                                           uint32_t loadAddress, size_t bytes,
                                           size_t recordBytes = 32, uint8_t first = 0)
{
    char text[64];
    std::snprintf(text, sizeof text, "0x%X%s%s", base, name.empty() ? "" : " ", name.c_str());
    std::vector<std::string> lines{S0(text)};
    char type = loadAddress + bytes > 0x10000 ? '2' : '1';
    for (size_t off = 0; off < bytes; off += recordBytes) {
        size_t n = bytes - off < recordBytes ? bytes - off : recordBytes;
        lines.push_back(Record(type, static_cast<uint32_t>(loadAddress + off),
                               Bytes(n, static_cast<uint8_t>(first + off))));
    }
    lines.push_back(Record('9', 0, {}));
    return lines;
}

inline void WriteLines(const std::string &path, const std::vector<std::string> &lines)
{
    std::ofstream out(path, std::ios::binary);
    for (const std::string &l : lines)
        out << l << '\n';
}

inline std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string> &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
