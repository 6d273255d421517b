// Headers that most of our files include, parsed once for the whole build:
// under the sanitizers a two-core build spends much of its time reading them
// again. Each Qt module is taken only where the target has it on its include
// path: the libraries without Qt get these headers without it.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#if __has_include(<QObject>)
#include <QCoreApplication>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#endif
#if __has_include(<QImage>)
#include <QImage>
#include <QPainter>
#endif
#if __has_include(<QWidget>)
#include <QLabel>
#include <QWidget>
#endif
