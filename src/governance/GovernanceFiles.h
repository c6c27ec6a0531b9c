#pragma once

#include "Records.h"

#include <QList>
#include <QString>

// The twelve files committed to the ops repository, composed byte for byte
// for the signed-in owner and the organisation, in commit order.
namespace GovernanceFiles {
QList<FileEntry> compose(const QString &owner, const QString &org);
} // namespace GovernanceFiles
