// Shared pieces of the window tests: message boxes answered by the test,
// modal windows handled while they run, and firmware files written on the
// fly.
#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/mirdelapp.h"
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

// Drops the watchers still waiting, so that none outlives its test.
inline void CancelWhenModal()
{
    for (QObject *o : WhenModalOwner().children())
        delete o;
}

// Calls handler with the application's active modal window as soon as one
// of type T is up (polling from the event loop that runs it). Gives up after
// timeoutMs.
template <typename T> void WhenModal(std::function<void(T *)> handler, int timeoutMs = 10000)
{
    auto *timer = new QTimer(&WhenModalOwner());
    auto elapsed = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [timer, handler, elapsed, timeoutMs] {
        *elapsed += 10;
        if (T *w = qobject_cast<T *>(QApplication::activeModalWidget())) {
            if (w->isVisible()) {
                timer->stop();
                timer->deleteLater();
                handler(w);
                return;
            }
        }
        if (*elapsed > timeoutMs) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start(10);
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
