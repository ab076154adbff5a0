#pragma once

#include <QString>

#include <optional>

#include <sys/types.h>

namespace kallomir {

// Who may read what the program writes: recordings, the catalogue, the integrity log and
// exported bundles are created readable and writable by the owner only, or also readable by
// one configured group. The group is named in RIZEDUZO.INI, section [PERMESSI], key GRUPPO.
//
// The rule is process-wide, like the file-creation mask it sets: every file the process
// creates gets it, whoever creates it.
struct FilePolicy {
    std::optional<gid_t> group;
    QString groupName;
    QString problem;  // the configured group does not exist (the owner-only rule is kept)
};

// Reads the policy of a program folder from its RIZEDUZO.INI.
FilePolicy LoadFilePolicy(const QString& iniFile);

// Sets the file-creation mask (077 without a group, 027 with one) and remembers the group.
void ApplyFilePolicy(const FilePolicy& policy);

// Gives a file or folder just created to the configured group (folders also pass the group
// on to what is created inside them). Empty text on success or without a group, else what
// went wrong.
QString ShareWithGroup(const QString& path);

}  // namespace kallomir
