// plmtool ls: a folder's children as the tree enumerates them.
#include "tests/shelltree/ShellFixture.h"

#include <QProcess>
#include <QStringList>

using namespace shelltest;

namespace {

struct LsResult {
  int Code = -1;
  QByteArray Out, Err;
};

LsResult Ls(const QStringList &args) {
  QProcess p;
  p.setProgram(QStringLiteral(PLM_BIN_DIR "/plmtool"));
  p.setArguments(QStringList{"ls"} + args);
  p.start();
  p.waitForFinished(60000);
  return {p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()};
}

QString Arg(const std::string &bytes) { return QString::fromLocal8Bit(bytes.c_str()); }

} // namespace

class PlmtoolLs : public TempTree {
protected:
  void SetUp() override {
    TempTree::SetUp();
    MakeDir("lettre10");
    MakeDir("lettre2");
    MakeDir(".cache");
    MakeDir("lettre2/sub");
    MakeFile("note.txt");
    MakeLink(Path("lettre2"), "vers-dossier");
    MakeLink(Path("absent"), "casse");
  }
};

TEST_F(PlmtoolLs, FoldersInNameOrderWithAttributesAndPaths) {
  const LsResult r = Ls({Arg(fRoot)});
  ASSERT_EQ(r.Code, 0) << r.Err.toStdString();
  const QByteArray root = QByteArray::fromStdString(fRoot);
  EXPECT_EQ(r.Out, "E0000010\tlettre2\t" + root + "/lettre2\n" +      //
                       "60000010\tlettre10\t" + root + "/lettre10\n" + //
                       "E0010010\tvers-dossier\t" + root + "/vers-dossier\n");
}

TEST_F(PlmtoolLs, FilesAndHiddenItemsOnRequest) {
  const LsResult r = Ls({"--files", "--hidden", Arg(fRoot)});
  ASSERT_EQ(r.Code, 0);
  const QList<QByteArray> lines = r.Out.split('\n');
  ASSERT_EQ(lines.size(), 7); // six items and the empty piece after the last newline
  EXPECT_TRUE(lines[0].startsWith("E0080010\t.cache\t") || lines[0].startsWith("60080010\t.cache\t"));
  EXPECT_TRUE(lines[4].startsWith("40010010\tcasse\t")); // a dangling link is a file
  EXPECT_TRUE(lines[5].startsWith("40000010\tnote.txt\t"));
}

TEST_F(PlmtoolLs, NamesAreWrittenByteForByte) {
  const std::string latin1 = "caf\xe9";
  MakeDir(latin1);
  const LsResult r = Ls({Arg(fRoot)});
  ASSERT_EQ(r.Code, 0);
  EXPECT_TRUE(r.Out.contains(QByteArray::fromStdString("\tcaf\xe9\t" + fRoot + "/caf\xe9\n")));
}

TEST_F(PlmtoolLs, DesktopWithoutPath) {
  const LsResult r = Ls({});
  ASSERT_EQ(r.Code, 0);
  EXPECT_TRUE(r.Out.startsWith("E0000000\tDossier personnel\t" + QByteArray::fromStdString(Home()) + "\n") ||
              r.Out.startsWith("60000000\tDossier personnel\t"));
  EXPECT_TRUE(r.Out.contains("B0000000\tOrdinateur\tcomputer:///\n"));
}

TEST_F(PlmtoolLs, APathThatDoesNotParseFails) {
  for (const QString &bad : {Arg(Path("absent")), QStringLiteral("relatif"), Arg(Path("note.txt"))}) {
    const LsResult r = Ls({bad});
    EXPECT_EQ(r.Code, 1) << bad.toStdString();
    EXPECT_TRUE(r.Out.isEmpty());
    EXPECT_TRUE(r.Err.startsWith("plmtool ls: ")) << r.Err.toStdString();
  }
  EXPECT_EQ(Ls({"--bogus"}).Code, 2);
}
