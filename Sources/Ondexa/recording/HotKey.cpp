#include "Ondexa/recording/HotKey.h"

#include "Ondexa/model/Log.h"

#include <QMetaObject>
#include <QObject>

namespace ondexa {

HotKey::HotKey(std::uint32_t keyCode, std::uint32_t modifiers, std::function<void()> action)
    : keyCode_(keyCode), modifiers_(modifiers), handlerRef_(std::make_unique<QObject>()), action_(std::move(action))
{
    // Presses arrive on the hot key's own thread; the handler object lives on
    // this (the main) thread, so a queued call runs here, and is discarded
    // with the handler when this object goes. The handler outlives the hot
    // key's thread (see the destructor), so the thread may use it freely.
    QObject* handler = handlerRef_.get();
    try {
        hotKeyRef_ = std::make_unique<platform::GlobalHotKey>(keyCode, modifiers, [this, handler] {
            QMetaObject::invokeMethod(
                handler,
                [this] {
                    if (action_) action_();
                },
                Qt::QueuedConnection);
        });
    } catch (const platform::HotKeyError& error) {
        registrationError_ = error.what();
        taken_ = error.takenByAnotherProgram();
        logLine(registrationError_);
    }
}

std::unique_ptr<HotKey> HotKey::failed(std::uint32_t keyCode, std::uint32_t modifiers, std::string sentence,
                                       bool taken)
{
    std::unique_ptr<HotKey> hotKey(new HotKey);
    hotKey->keyCode_ = keyCode;
    hotKey->modifiers_ = modifiers;
    hotKey->registrationError_ = std::move(sentence);
    hotKey->taken_ = taken;
    return hotKey;
}

std::string HotKey::takenNotice() const
{
    if (!taken_) return {};
    return "A " + platform::describeKeyChord(keyCode_, modifiers_) + " billentyűparancsot egy másik program használja.";
}

HotKey::~HotKey()
{
    // Stop the presses first, then drop what is queued for the main thread.
    hotKeyRef_.reset();
    handlerRef_.reset();
}

} // namespace ondexa
