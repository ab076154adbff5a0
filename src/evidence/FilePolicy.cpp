#include "evidence/FilePolicy.h"

#include "core/IniFile.h"

#include <QFile>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <vector>

namespace kallomir {

namespace {
// -1: no group. Read by every thread that creates files.
std::atomic<long long> sharedGroup{-1};

// The owner of a file may hand it to a group only when he belongs to it.
bool MayGiveToGroup(gid_t gid) {
    if (::geteuid() == 0 || ::getegid() == gid)
        return true;
    const int count = ::getgroups(0, nullptr);
    if (count <= 0)
        return false;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    const int got = ::getgroups(count, groups.data());
    for (int i = 0; i < got; ++i) {
        if (groups[std::size_t(i)] == gid)
            return true;
    }
    return false;
}
}  // namespace

FilePolicy LoadFilePolicy(const QString& iniFile) {
    FilePolicy policy;
    const QString name =
        ReadIniValue(iniFile, QStringLiteral("PERMESSI"), QStringLiteral("GRUPPO"), QString())
            .trimmed();
    if (name.isEmpty())
        return policy;
    policy.groupName = name;
    const QByteArray native = name.toLocal8Bit();
    long bufferSize = ::sysconf(_SC_GETGR_R_SIZE_MAX);
    std::vector<char> buffer(std::size_t(bufferSize > 0 ? bufferSize : 16384));
    struct group entry {};
    struct group* found = nullptr;
    int error = 0;
    while ((error = ::getgrnam_r(native.constData(), &entry, buffer.data(), buffer.size(),
                                 &found)) == ERANGE)
        buffer.resize(buffer.size() * 2);
    std::optional<gid_t> gid;
    bool numeric = false;
    const uint number = name.toUInt(&numeric);
    if (found)
        gid = found->gr_gid;
    else if (numeric)
        gid = gid_t(number);
    if (!gid) {
        policy.problem = QStringLiteral(
                             "Il gruppo \"%1\" indicato in [PERMESSI] GRUPPO non "
                             "esiste: i file restano leggibili solo dal proprietario.")
                             .arg(name);
        return policy;
    }
    if (!MayGiveToGroup(*gid)) {
        policy.problem = QStringLiteral(
                             "L'utente non fa parte del gruppo \"%1\" indicato in "
                             "[PERMESSI] GRUPPO: i file restano leggibili solo dal "
                             "proprietario.")
                             .arg(name);
        return policy;
    }
    policy.group = gid;
    return policy;
}

void ApplyFilePolicy(const FilePolicy& policy) {
    ::umask(policy.group ? 027 : 077);
    sharedGroup.store(policy.group ? static_cast<long long>(*policy.group) : -1);
}

QString ShareWithGroup(const QString& path) {
    const long long group = sharedGroup.load();
    if (group < 0)
        return QString();
    const QByteArray native = QFile::encodeName(path);
    if (::chown(native.constData(), uid_t(-1), gid_t(group)) != 0)
        return QStringLiteral("%1: gruppo non assegnato (%2)")
            .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    struct stat st {};
    if (::stat(native.constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
        ::chmod(native.constData(), (st.st_mode & 07777) | S_ISGID) != 0)
        return QStringLiteral("%1: gruppo non trasmesso (%2)")
            .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    return QString();
}

}  // namespace kallomir
