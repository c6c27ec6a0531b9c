#pragma once

class AppState;
class AuditRecorder;
class GitHubService;
class HealthCheckService;
class ShellCommands;

// What every screen is given: the one state and the services it may call.
// Tests build one on loopback services; the application on the shared ones.
struct UiContext {
    AppState *appState = nullptr;
    GitHubService *gitHub = nullptr;
    HealthCheckService *health = nullptr;
    // Where governance events are written; none in tests that do not look.
    AuditRecorder *audit = nullptr;
    // The application shell (start at login, quitting); none in tests that
    // do not use it.
    ShellCommands *shell = nullptr;
};

// Starts one health check on the context's services; fire and forget, the
// screens follow the result through AppState.
void startHealthCheck(const UiContext &context);
