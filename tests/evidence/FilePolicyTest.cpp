// Who may read what the program writes: the owner only, or also the configured group.
#include "core/IniFile.h"
#include "evidence/EvidenceEvents.h"
#include "evidence/FilePolicy.h"
#include "evidence/IntegrityLog.h"
#include "support/WavFixture.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

using namespace kallomir;
using kallomir::test::WriteBytes;

namespace {

struct stat StatOf(const QString& path) {
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st;
}

// A group other than the user's own that the user may hand files to; none when there is none.
std::optional<gid_t> OtherGroup() {
    std::vector<gid_t> candidates;
    if (::geteuid() == 0) {
        for (const char* name : {"users", "nogroup"})
            if (const struct group* g = ::getgrnam(name))
                candidates.push_back(g->gr_gid);
    } else {
        const int n = ::getgroups(0, nullptr);
        candidates.resize(std::size_t(std::max(n, 0)));
        ::getgroups(n, candidates.data());
    }
    for (const gid_t gid : candidates)
        if (gid != ::getegid())
            return gid;
    return std::nullopt;
}

class FilePolicyTest : public ::testing::Test {
protected:
    void TearDown() override { ApplyFilePolicy(FilePolicy{}); }
    QTemporaryDir dir;
};

TEST_F(FilePolicyTest, TheGroupIsReadFromTheConfigurationAndRefusedWhenUnusable) {
    const QString ini = dir.filePath("RIZEDUZO.INI");
    EXPECT_FALSE(LoadFilePolicy(ini).group);
    EXPECT_TRUE(LoadFilePolicy(ini).problem.isEmpty());
    QString value = "gruppo-che-non-esiste-xyz";
    WriteIniValue(ini, "PERMESSI", "GRUPPO", value);
    FilePolicy policy = LoadFilePolicy(ini);
    EXPECT_FALSE(policy.group);
    EXPECT_TRUE(policy.problem.contains("non esiste")) << policy.problem.toStdString();

    const auto other = OtherGroup();
    if (!other)
        GTEST_SKIP() << "no second group to try";
    value = QString::fromLocal8Bit(::getgrgid(*other)->gr_name);
    WriteIniValue(ini, "PERMESSI", "GRUPPO", value);
    policy = LoadFilePolicy(ini);
    EXPECT_EQ(policy.group, other);
    EXPECT_TRUE(policy.problem.isEmpty());
}

TEST_F(FilePolicyTest, WithoutAGroupEverythingCreatedIsTheOwnersOnly) {
    ApplyFilePolicy(FilePolicy{});
    const QString data = dir.filePath("Recodati");
    QDir().mkpath(data + "/Quendral/1");
    const QString file = data + "/Quendral/1/20240131_142305.Ems";
    WriteBytes(file, "x");
    IntegrityLog(dir.path()).append({events::kMarksChanged, QDateTime::currentDateTime(), {}});
    EXPECT_TRUE(ShareRecordingWithGroup(file, data + "/").isEmpty());
    for (const QString& path : {file, data + "/Quendral/1", IntegrityLog(dir.path()).path()}) {
        SCOPED_TRACE(path.toStdString());
        EXPECT_EQ(StatOf(path).st_mode & 077, 0u);
        EXPECT_EQ(StatOf(path).st_gid, ::getegid());
    }
}

TEST_F(FilePolicyTest, WithAGroupTheRecordingItsFoldersAndTheLogAreTheGroupsToRead) {
    const auto other = OtherGroup();
    if (!other)
        GTEST_SKIP() << "no second group to try";
    FilePolicy policy;
    policy.group = *other;
    ApplyFilePolicy(policy);
    const QString data = dir.filePath("Recodati");
    QDir().mkpath(data + "/Quendral/1");
    const QString file = data + "/Quendral/1/20240131_142305.Ems";
    WriteBytes(file, "x");
    EXPECT_TRUE(ShareRecordingWithGroup(file, data + "/").isEmpty());
    EXPECT_EQ(StatOf(file).st_mode & 077, 040u);  // the group reads, nobody else
    EXPECT_EQ(StatOf(file).st_gid, *other);
    for (const QString& folder : {data, data + "/Quendral", data + "/Quendral/1"}) {
        SCOPED_TRACE(folder.toStdString());
        EXPECT_EQ(StatOf(folder).st_gid, *other);
        EXPECT_EQ(StatOf(folder).st_mode & 07077, unsigned(S_ISGID | 050));
    }
    EXPECT_NE(StatOf(dir.path()).st_gid, *other) << "nothing above DATI";

    IntegrityLog(dir.path()).append({events::kMarksChanged, QDateTime::currentDateTime(), {}});
    EXPECT_EQ(StatOf(IntegrityLog(dir.path()).path()).st_gid, *other);
    EXPECT_EQ(StatOf(IntegrityLog(dir.path()).path()).st_mode & 077, 040u);
}

}  // namespace
