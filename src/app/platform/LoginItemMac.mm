#include "LoginItem.h"

#import <ServiceManagement/ServiceManagement.h>

// The bundle itself is the login item. macOS passes it no arguments at
// login; a set-up machine opens no window at launch anyway.

LoginItem::LoginItem(QString configHome, QString program)
    : m_configHome(std::move(configHome))
    , m_program(std::move(program)) {}

bool LoginItem::isEnabled() const {
    return SMAppService.mainAppService.status == SMAppServiceStatusEnabled;
}

bool LoginItem::setEnabled(bool on, QString *error) {
    NSError *failure = nil;
    SMAppService *service = SMAppService.mainAppService;
    // Unregistering what was never registered is an error to macOS, not to us.
    if (!on && service.status != SMAppServiceStatusEnabled)
        return true;
    const BOOL done = on ? [service registerAndReturnError:&failure]
                         : [service unregisterAndReturnError:&failure];
    if (done)
        return true;
    if (error)
        *error = QString::fromNSString(failure.localizedDescription);
    return false;
}
