#include "UrlHandlerRegistration.h"

// The scheme is declared by the application bundle itself, which the user
// removes by moving it to the Bin; nothing per user is left to remove.
namespace UrlHandlerRegistration {

bool remove(const QString &, const QString &, QString *) {
    return true;
}

QString packageRemovalCommand(const QString &, const QString &) {
    return {};
}

} // namespace UrlHandlerRegistration
