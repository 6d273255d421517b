#include "Ondexa/recording/AudioDevices.h"
#include "Platform/core/HandOff.h"

#include "Platform/audio/AudioServer.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace ondexa {

namespace AudioDeviceList {

std::vector<AudioInputDevice> devicesFrom(const std::vector<platform::AudioSource>& sources)
{
    std::vector<AudioInputDevice> devices;
    for (const auto& source : sources) {
        if (source.isMonitor || source.channelCount < 1) continue;
        if (source.description.empty() || source.name.empty()) continue;
        if (source.name.rfind("CADefaultDevice", 0) == 0) continue;
        AudioInputDevice device;
        device.id = source.index;
        device.uid = source.name;
        device.name = source.description;
        for (int n = 1; n <= source.channelCount; ++n) {
            std::string label = "Bemenet " + std::to_string(n);
            const std::size_t i = std::size_t(n - 1);
            const std::string position =
                i < source.channelNames.size() ? platform::AudioServer::channelLabel(source.channelNames[i]) : "";
            if (!position.empty()) label += " \u2013 " + position;
            device.channelNames.push_back(std::move(label));
        }
        devices.push_back(std::move(device));
    }
    return devices;
}

std::vector<AudioInputDevice> read()
{
    return devicesFrom(platform::AudioServer::shared()->sources());
}

std::vector<AudioInputDevice> inputDevices()
{
    try {
        return read();
    } catch (const std::exception&) {
        return {};
    }
}

void observeChanges(std::function<void()> callback)
{
    platform::AudioServer::addDeviceObserver(std::move(callback), [](std::function<void()> job) {
        if (auto* app = QCoreApplication::instance())
            QMetaObject::invokeMethod(app, platform::handedOver(std::move(job)), Qt::QueuedConnection);
    });
}

} // namespace AudioDeviceList

} // namespace ondexa

std::size_t std::hash<ondexa::AudioInputDevice>::operator()(const ondexa::AudioInputDevice& device) const noexcept
{
    auto mix = [](std::size_t seed, std::size_t value) {
        return seed ^ (value + 0x9e3779b97f4a7c15ull + (seed << 6) + (seed >> 2));
    };
    std::size_t h = std::hash<std::uint32_t>{}(device.id);
    h = mix(h, std::hash<std::string>{}(device.uid));
    h = mix(h, std::hash<std::string>{}(device.name));
    h = mix(h, device.channelNames.size());
    for (const auto& channel : device.channelNames) h = mix(h, std::hash<std::string>{}(channel));
    return h;
}
