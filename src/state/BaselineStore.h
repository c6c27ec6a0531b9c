#pragma once

#include "GovernanceBaseline.h"

#include <QString>

#include <optional>

class PersistenceService;

// Keeps the approved governance baseline in baseline.json beside state.json,
// written the way state.json is (atomically, private to the user). A missing
// or unreadable file reads as no baseline; the check then rebuilds one from
// the files KeelMark composes, so a damaged file can hide no drift.
class BaselineStore {
public:
    // `persistence` owns the application directory and outlives the store.
    explicit BaselineStore(const PersistenceService &persistence);

    QString filePath() const; // directory + "/baseline.json"

    std::optional<GovernanceBaseline> load() const;
    // Returns whether the file was replaced; a failure leaves the old file.
    bool save(const GovernanceBaseline &baseline) const;

private:
    const PersistenceService &m_persistence;
};
