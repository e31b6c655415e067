// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What a screen reader hears of the windows: every control named after what
// it sets (its label where it has one of its own, else the row and column it
// sits in), the reading panels read together with what they belong to and
// kept current after every status reply, the dormant page kept out of view,
// and a key for each entry of the notification-area menu.

#include <QKeySequence>
#include <QString>

class QDialog;
class QMenu;
class TForm1;
struct StatusSample;
struct UnitModel;

// The menu's keys; also listed in the help.
inline const QKeySequence kOpenKey{QStringLiteral("Ctrl+O")};
inline const QKeySequence kHistoryKey{QStringLiteral("Ctrl+H")};
inline const QKeySequence kAboutKey{QStringLiteral("Ctrl+Shift+A")};
inline const QKeySequence kExitKey{QStringLiteral("Ctrl+Q")};

// Before the first window is built: Qt keeps the interface it first made
// for a control.
void InstallAccessibleInterfaces();
// Called once the window's texts are set.
void MakeMainWindowAccessible(TForm1& form);
// The dialogs, once built.
void NameDialogControls(QDialog& dialog);

// What the reading panels are read as, from the sample and the model (not
// from the panels' captions, which may be cleared or elided).
QString ReadingName(const StatusSample& sample, const UnitModel& model, int sensor);
