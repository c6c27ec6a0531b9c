#include "BaselineStore.h"

#include "PersistenceService.h"

#include <QFile>

namespace {

const QString kFileName = QStringLiteral("baseline.json");

// Far above any real baseline (twelve paths and ids); a larger file is not
// ours and is not read into memory.
constexpr qint64 kMaxFileSize = 64 * 1024;

} // namespace

BaselineStore::BaselineStore(const PersistenceService &persistence)
    : m_persistence(persistence) {}

QString BaselineStore::filePath() const {
    return m_persistence.directory() + u'/' + kFileName;
}

std::optional<GovernanceBaseline> BaselineStore::load() const {
    QFile file(filePath());
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxFileSize)
        return std::nullopt;
    return GovernanceBaseline::decode(file.read(kMaxFileSize));
}

bool BaselineStore::save(const GovernanceBaseline &baseline) const {
    return m_persistence.replaceFile(kFileName, baseline.encode());
}
