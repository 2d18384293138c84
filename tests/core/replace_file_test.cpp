#include "core/replace_file.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <optional>

#include "support/frames.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

void Put(const QString& path, const QByteArray& bytes, QFile::Permissions mode) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  ASSERT_EQ(f.write(bytes), bytes.size());
  f.close();
  ASSERT_TRUE(QFile::setPermissions(path, mode));
}

QStringList Entries(const QString& dir) {
  return QDir(dir).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

// Refused by its permission bits, not by whether this user could write it anyway: the
// super-user can write any file, and still must not replace one marked read-only. A link
// to such a file is refused the same.
TEST(ReplaceFile, ReadOnlyFileIsRefusedAndKept) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString path = dir.filePath("locked.json");
  Put(path, "old", QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
  const QString link = dir.filePath("link.json");
  ASSERT_TRUE(QFile::link(path, link));

  for (const QString& target : {path, link}) {
    QString error;
    EXPECT_FALSE(ReplaceFileContents(target, "new", FileAccess::Shared, &error));
    EXPECT_TRUE(error.contains("read-only")) << error.toStdString();
  }
  EXPECT_EQ(test::ReadFile(path), "old");
  EXPECT_EQ(QFileInfo(path).permissions() & (QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther),
            QFile::Permissions{});
  EXPECT_EQ(Entries(dir.path()), (QStringList{"link.json", "locked.json"}));
}

// The file a link names is replaced, in its own folder; the link stays a link.
TEST(ReplaceFile, LinkIsFollowedAndStays) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  ASSERT_TRUE(QDir(dir.path()).mkdir("real"));
  ASSERT_TRUE(QDir(dir.path()).mkdir("links"));
  const QString target = dir.filePath("real/site.json");
  Put(target, "old", QFile::ReadOwner | QFile::WriteOwner);
  const QString link = dir.filePath("links/site.json");
  fs::create_symlink("../real/site.json", link.toStdString());

  QString error;
  ASSERT_TRUE(ReplaceFileContents(link, "new contents", FileAccess::Shared, &error)) << error.toStdString();
  EXPECT_TRUE(QFileInfo(link).isSymLink());
  EXPECT_EQ(fs::read_symlink(link.toStdString()), fs::path("../real/site.json"));
  EXPECT_EQ(test::ReadFile(target), "new contents");
  EXPECT_EQ(Entries(dir.filePath("real")), QStringList{"site.json"}) << "no temporary left";
  EXPECT_EQ(Entries(dir.filePath("links")), QStringList{"site.json"});
}

// A write the disk cuts short (here the process's file size limit, as a full disk would)
// fails, and the file keeps its old contents with nothing left beside it.
TEST(ReplaceFile, CutShortWriteLeavesTheOldFile) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString path = dir.filePath("session.txt");
  Put(path, "old contents", QFile::ReadOwner | QFile::WriteOwner);
  const QByteArray big(256 * 1024, 'x');

  rlimit before{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
  rlimit small = before;
  small.rlim_cur = 16 * 1024;
  const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  QString error;
  const bool replaced = ReplaceFileContents(path, big, FileAccess::Shared, &error);
  ::setrlimit(RLIMIT_FSIZE, &before);
  std::signal(SIGXFSZ, old_handler);

  EXPECT_FALSE(replaced);
  EXPECT_TRUE(error.startsWith(path + ": cannot be written")) << error.toStdString();
  EXPECT_EQ(test::ReadFile(path), "old contents");
  EXPECT_EQ(Entries(dir.path()), QStringList{"session.txt"});
}

// The mode a replaced file ends with: owner-only always for private contents; for shared
// ones, the old file's own mode (a private file stays private, a group-writable one stays
// so), and readable by all for a new file.
TEST(ReplaceFile, SharedKeepsTheOldModeAndOwnerOnlyIsAlwaysPrivate) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  using P = fs::perms;
  const P rw = P::owner_read | P::owner_write;
  struct Case {
    const char* name;
    std::optional<P> old;  // none: no file yet
    FileAccess access;
    P after;
  };
  const Case cases[] = {
      {"private", rw, FileAccess::Shared, rw},
      {"group-writable", rw | P::group_read | P::group_write, FileAccess::Shared, rw | P::group_read | P::group_write},
      {"new shared", std::nullopt, FileAccess::Shared, rw | P::group_read | P::others_read},
      {"open to all", rw | P::group_read | P::others_read, FileAccess::OwnerOnly, rw},
      {"new private", std::nullopt, FileAccess::OwnerOnly, rw},
  };
  for (const Case& c : cases) {
    const QString path = dir.filePath(c.name);
    if (c.old) {
      Put(path, "old", QFile::ReadOwner | QFile::WriteOwner);
      fs::permissions(path.toStdString(), *c.old);
    }
    QString error;
    ASSERT_TRUE(ReplaceFileContents(path, "new", c.access, &error)) << c.name << ": " << error.toStdString();
    EXPECT_EQ(test::ReadFile(path), "new") << c.name;
    EXPECT_EQ(fs::status(path.toStdString()).permissions(), c.after) << c.name;
  }
}

}  // namespace
}  // namespace velmora
