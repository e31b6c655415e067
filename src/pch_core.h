// SPDX-License-Identifier: GPL-3.0-or-later
// Precompiled once per build for the watch's libraries, which see no widget
// library: the Qt Core and standard headers nearly every one of their files
// includes.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>
