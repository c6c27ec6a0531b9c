#pragma once

#include <QJsonObject>
#include <QString>

class AppState;
class PlatformIntegration;
struct LaunchOptions;
struct PersistedState;

// The read-only commands: they run without a display or a QApplication
// and never change the application's state.
namespace CommandLine {

QString helpText();
QString versionText();

// What the running instance reports about itself.
QJsonObject statusOf(const AppState &state);
// What the disk says when no instance runs: whether the machine is set up
// and where, but no live status.
QJsonObject statusOf(const PersistedState &state);

// 0 protected, 1 alert, 2 anything else (not set up, offline, unknown).
int exitCodeFor(const QJsonObject &status);
QString describe(const QJsonObject &status);

// Runs the command `options` names, printing to standard output; returns
// the process's exit code.
int run(const LaunchOptions &options, PlatformIntegration &platform, const QString &stateDirectory);

} // namespace CommandLine
