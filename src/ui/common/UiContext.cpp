#include "UiContext.h"

#include "AppState.h"
#include "HealthCheckService.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcUiContext, "keelmark.ui")

void startHealthCheck(const UiContext &context) {
    if (!context.health || !context.appState) {
        qCWarning(lcUiContext) << "health check requested without a health service";
        return;
    }
    // The task outlives this call and the screen; it only touches the
    // services and AppState, which live for the whole run.
    auto task = context.health->performHealthCheck(context.appState);
    Q_UNUSED(task);
}
