// The project document and its XML-like store: file layout, escapes, saving, paths, password.
#include "store/PrjCls.h"

#include "app/keyring/SecretServiceKeyring.h"
#include "engine/PublishOperator.h"
#include "store/ProjectOptions.h"
#include "store/RegistryLib.h"
#include "store/Settings.h"
#include "store/ShellLib.h"
#include "tests/support/PrivateKeyring.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QSettings>
#include <QTemporaryDir>

#include <functional>

#include <sys/stat.h>

class ProjectTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QDir(ProjectsFolder()).removeRecursively();
        QDir().mkpath(ProjectsFolder());
        QSettings("morvate", "Zandrel").clear();
    }
    void TearDown() override
    {
        TProject::CommandLineArguments.clear();
        TProject::Keyring = nullptr;
        TProject::Notice = nullptr;
    }
};

TEST_F(ProjectTest, NewProjectReadByTheOptionsDialogSavesTheExpectedBytes)
{
    TProject p;
    p.Clear();
    p.InitDefaults();
    // The options dialog's writes, in its order: a key's place is where it is first written.
    for (const QString &key : QString("Path IncSubDirs Host User Pass RemotePath Port Timeout "
                                      "Passive Proxy SaveLog LogFile CheckLogSize MaxLogSize "
                                      "SafeUpload SafeUploadSize SetPermission CheckSize "
                                      "IgnoreHiddenFiles Connections Encryption")
                                  .split(' '))
        p.Nodes(key)->SetAsString(p.Nodes(key)->AsString());
    p.Nodes("MaxLogSize")->AsInteger();
    p.Nodes("Filters")->Items(0)->Nodes("Options")->AsString();
    p.Nodes("Filters")->Items(0)->Nodes("Mask")->AsString();
    p.Versions.LoadFromText("1 \n1 images\\\n0 images\\logo.gif\n1474842634 index.html\n"
                            "-1 Sub Dir\\a b.html\n1474842635 caf\u00e9.html\n");
    // A name with a line break would forge a record: left out, written in one pass or not.
    p.Versions.FindOrAdd("forged\n1 x")->Date = 5;
    p.Versions.FindOrAdd("caf\u00e9\r")->Date = 6;
    // What is known of the content goes beside the file, which keeps its bytes.
    p.Versions.FindOrAdd("index.html")->SetContent(12, 1474842634000000001, 0xabcdef);
    p.Versions.FindOrAdd("caf\u00e9.html")->SetContent(0, -5, 0);
    p.FileName = ProjectsFolder() + "golden.zdx";
    p.Save(false);
    const QByteArray expected = ReadWholeFile(TestDataPath("new_project.zdx"));
    EXPECT_EQ(ReadWholeFile(p.FileName), expected);
    const QByteArray cafe = "1474842635 0 -5 0 caf\u00e9.html\n";
    EXPECT_EQ(ReadWholeFile(p.ContentFileName()),
              "zandrel-content 1\n1474842634 12 1474842634000000001 abcdef index.html\n" + cafe);
    // Read back, an entry counts only while its date is the record's.
    p.Versions.FindOrAdd("index.html")->Date = 7;
    p.SaveToFile(p.FileName);
    WriteWholeFile(p.ContentFileName(),
                   ReadWholeFile(p.ContentFileName()) + "1 x 0 0 a\n5 0 0 0 x");
    p.Load(p.FileName);
    EXPECT_EQ(p.Versions.SaveContent(), "zandrel-content 1\n" + cafe);
    // What the server listed after the upload makes it format 2, read back as written; a date
    // set by marking drops it with the content.
    TVersionItem *stamped = p.Versions.FindOrAdd("caf\u00e9.html");
    stamped->ServerSize = 9;
    stamped->ServerTime = 1700000000;
    const QByteArray second = "zandrel-content 2\n1474842635 0 -5 0 9 1700000000 caf\u00e9.html\n";
    EXPECT_EQ(p.Versions.SaveContent(), second);
    p.Save(false);
    p.Load(p.FileName);
    EXPECT_EQ(p.Versions.SaveContent(), second);
    p.Versions.FindOrAdd("caf\u00e9.html")->SetMarkedDate(1474842635);
    EXPECT_EQ(p.Versions.SaveContent(), "zandrel-content 1\n");
}

TEST_F(ProjectTest, FirstSaveNamesTheFileAfterLoginAndHost)
{
    TProject p;
    p.InitDefaults();
    p.Nodes("User")->Value = "  ";
    p.Nodes("Host")->Value = "ftp.example.org";
    p.Save(false); // no login: nothing, silently
    EXPECT_TRUE(p.FileName.isEmpty());

    p.Nodes("User")->Value = "web master"; // kept as stored
    const QString base = ProjectsFolder() + "web master@ftp.example.org";
    WriteWholeFile(base + ".zdx", "old");
    WriteWholeFile(base + " (2).zdx", "old");
    p.Save(true);
    EXPECT_EQ(p.FileName, base + " (3).zdx");
    EXPECT_EQ(ProjectTitle(p.FileName), "web master@ftp.example.org (3)");
    QFile::remove(p.FileName); // recreated only when asked
    p.Save(true);
    EXPECT_FALSE(QFile::exists(p.FileName));
    p.Save(false);
    EXPECT_TRUE(QFile::exists(p.FileName));
}

TEST_F(ProjectTest, EverySaveOnAFullDiskKeepsTheOldFileAndSaysWhichAndWhy)
{
    RUN_ON_TINY_DISK();
    const QString disk = TinyDisk();
    TProject project;
    project.InitDefaults();
    project.FileName = disk + "/site.zdx";
    project.Save(false);
    TSettings settings;
    settings.FileName = disk + "/settings.dat";
    settings.Save();
    const QString log = disk + "/site.log";
    // Its last page has room for the start of an append only: what fits must be taken back.
    WriteWholeFile(log,
                   QByteArray("\r\nStart: then\r\nupload abc.html\r\n").repeated(128).chopped(5));
    const QString launcher = disk + "/site.desktop";
    ASSERT_TRUE(CreateShortcut(launcher, "/usr/bin/zandrel", project.FileName));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, disk);
    const auto form = TRegistryAddress{hkeyCurrentUser, "\\Software\\morvate\\Zandrel"}.OpenKey(
        "Forms\\frmMain");
    form->WriteInteger("Top", 10);
    form->Commit();
    const auto before = TreeOf(disk);
    for (int i = 0; i < 2000; ++i)
        project.Versions.FindOrAdd(QString("page%1.html").arg(i))->Date = 1474842634;
    settings.TextFiles << "*.shtml";
    FillDisk(disk);

    const std::pair<QString, std::function<void()>> saves[] = {
        {project.FileName, [&] { project.Save(false); }},
        {settings.FileName, [&] { settings.Save(); }},
        {log, [&] { TrimLog(log, 3000); }},
        {log, [&] { AppendFileSafely(log, "\r\nStart: now\r\n"); }},
        {launcher, [&] { WriteFileSafely(launcher, "[Desktop Entry]\n", 0755); }},
    };
    for (const auto &[file, save] : saves)
        EXPECT_EQ(ErrorOf<EStoreError>(save),
                  "Cannot write file " + file + ": No space left on device");
    EXPECT_FALSE(CreateShortcut(launcher, "/usr/bin/zandrel", "other.zdx"));
    form->WriteString("Edit", "typed");
    const QString formError = ErrorOf<EStoreError>([&] { form->Commit(); });
    EXPECT_TRUE(formError.startsWith("Cannot write file " + form->FileName() + ": "))
        << formError.toStdString();
    EXPECT_EQ(TreeOf(disk, {"filler"}), before); // no temporary file left either
}

TEST_F(ProjectTest, SavedFilesArePrivateAndAUsersStricterModeIsKept)
{
    QDir(ProjectsFolder()).removeRecursively();
    TProject p;
    p.InitDefaults();
    p.Nodes("User")->SetAsString("me");
    p.Nodes("Host")->SetAsString("h");
    p.Save(false);
    EXPECT_EQ(QFileInfo(ProjectsFolder()).permissions() & 0xF0FF, QFileDevice::Permissions(0x7000));
    const QByteArray path = QFile::encodeName(p.FileName);
    for (const auto &[old, expected] :
         {std::pair{-1, 0600}, {0644, 0600}, {0666, 0600}, {0400, 0400}, {0700, 0700}}) {
        QFile::remove(p.FileName);
        if (old >= 0) {
            WriteWholeFile(p.FileName, "old");
            ::chmod(path.constData(), mode_t(old));
        }
        p.Save(false);
        struct stat info = {};
        ::stat(path.constData(), &info);
        EXPECT_EQ(int(info.st_mode & 07777), expected) << old;
        EXPECT_EQ(ReadWholeFile(p.FileName), p.SaveToBytes());
    }
    // A link is followed: its target gets the new bytes and the link stays.
    const QString target = ProjectsFolder() + "target.zdx";
    WriteWholeFile(target, "old");
    QFile::remove(p.FileName);
    ASSERT_TRUE(QFile::link(target, p.FileName));
    p.Save(false);
    EXPECT_TRUE(QFileInfo(p.FileName).isSymLink());
    EXPECT_EQ(ReadWholeFile(target), p.SaveToBytes());
}

TEST_F(ProjectTest, ReadingKeysAFileLacksLeavesItsBytesAndPlainValuesStayAsWritten)
{
    // An old file without the newer keys, read as the dialogs, a refresh and an upload read it.
    const QByteArray old = ReadWholeFile(TestDataPath("site.zdx"));
    TProject p;
    p.SetPassword("stale");
    p.Load(TestDataPath("site.zdx"));
    EXPECT_FALSE(p.PasswordKnown);
    EXPECT_EQ(p.Nodes("port")->AsInteger(), 2121);
    EXPECT_EQ(p.Nodes("Pass")->AsPassword(), "secret");
    EXPECT_EQ(p.Versions.Items(4)->FileName, "news\\2024 &lt;old&gt;.html");
    TProjectOptions().Load(p);
    ProjectConnections(p);
    ProjectEncryption(p);
    ProjectRefusal(p, true);
    p.GetLocalPath();
    p.GetUrl();
    for (const char *key :
         {"TrustedCertificate", "SaveLog", "LogFile", "CheckSize", "ViewSyncFiles"})
        p.Nodes(key)->AsString();
    p.Nodes("Filters")->Items(0)->Nodes("Unknown")->AsBoolean();
    EXPECT_EQ(p.SaveToBytes(), old);
    // What is set is written, an empty value too.
    p.Nodes("Connections")->SetAsInteger(1);
    p.Nodes("TrustedCertificate")->SetAsString("");
    EXPECT_TRUE(p.SaveToBytes().contains("</Title>\r\n<Connections>\r\n1\r\n</Connections>\r\n"
                                         "<TrustedCertificate>\r\n</TrustedCertificate>\r\n"));

    // "&#N;" is decoded only at the ends of a value, where protected values keep blanks.
    const std::tuple<QByteArray, QString, QByteArray> values[] = {
        // stored text, value read, text written back
        {"&#65;", "&#65;", "&amp;#65;"},         {"a&#32;b", "a&#32;b", "a&amp;#32;b"},
        {"&amp;#65;", "&#65;", "&amp;#65;"},     {"x&amp;", "x&", "x&amp;"},
        {"&#32;pw&#9;", " pw\t", "&#32;pw&#9;"},
    };
    for (const auto &[stored, value, written] : values) {
        TXMLStore n;
        n.LoadFromBytes("<v>" + stored + "</v>");
        EXPECT_EQ(n.Value, value) << stored.toStdString();
        EXPECT_EQ(n.SaveToBytes(), "<v>\r\n" + written + "\r\n</v>\r\n") << stored.toStdString();
    }
    TXMLStore password, back;
    password.SetAsPassword("zz");
    password.Value = " " + password.Value + " ";
    back.LoadFromBytes(password.SaveToBytes());
    EXPECT_EQ(back.Value, password.Value);

    p.LoadFromBytes("<project><Port>21</Port></project>\r\n1 a\r\n");
    EXPECT_EQ(p.Versions.Count(), 0); // no marker: all of it is the tree
    p.LoadFromBytes("<project><Port>21</Port><!-- versions -->\r\n5 x\r\n");
    EXPECT_EQ(p.Count(), 1); // the unclosed root ends at the marker
    EXPECT_EQ(p.Versions.SaveToText(), "5 x\r\n");
    p.Nodes("Note")->Value = p.VersionsMarker; // escaped, so harmless
    TProject q;
    q.LoadFromBytes(p.SaveToBytes());
    EXPECT_EQ(q.Nodes("Note")->Value, p.VersionsMarker);
    EXPECT_EQ(q.Versions.SaveToText(), "5 x\r\n");
}

TEST_F(ProjectTest, APortOrLocalFolderThatCannotBeUsedIsRefusedWithKeyAndValue)
{
    const std::pair<QString, int> ports[]
        = {{"21", 21},    {" 2121 ", 2121}, {"", 21},     {"65535", 65535}, {"0", -1},
           {"65536", -1}, {"99999", -1},    {"abc", -1},  {"1e10", -1},     {"-21", -1},
           {"+21", -1},   {"21.0", -1},     {"0x15", -1}, {"٢١", -1}};
    QTemporaryDir site;
    for (const auto &[text, port] : ports) {
        quint16 parsed = 0;
        EXPECT_EQ(ParsePort(text, parsed), port >= 0) << text.toStdString();
        EXPECT_EQ(port >= 0 ? int(parsed) : -1, port) << text.toStdString();
        TProject p;
        p.Nodes("Path")->SetAsString(site.path());
        p.Nodes("Port")->SetAsString(text);
        const QString refusal = "The project's \"Port\" holds \"" + text
                                + "\": Port must be a number from 1 to 65535";
        EXPECT_EQ(ProjectRefusal(p, true), port >= 0 ? QString() : refusal);
        EXPECT_EQ(ProjectRefusal(p, false), QString()); // a refresh does not connect
    }
    const QString unset = "The project's local folder is not set (\"Path\" is empty): nothing is "
                          "published from \"/\"",
                  gone = "The local folder " + site.path() + "/%1/ does not exist";
    WriteWholeFile(site.path() + "/file", "x");
    const std::pair<QString, QString> paths[] = {{"", unset},
                                                 {" \t", unset},
                                                 {" " + site.path() + " ", ""},
                                                 {site.path() + "/missing", gone.arg("missing")},
                                                 {site.path() + "/file", gone.arg("file")}};
    for (const auto &[path, refusal] : paths) {
        TProject p;
        p.Nodes("Path")->SetAsString(path);
        EXPECT_EQ(ProjectRefusal(p, false), refusal);
    }
    TProject none;
    EXPECT_FALSE(ProjectRefusal(none, true).isEmpty());
}

TEST_F(ProjectTest, PathsUrlWhereAPasswordComesFromAndTlsSeenGoesWithTheServer)
{
    TProject p;
    EXPECT_EQ(p.GetLocalPath(), "/");
    p.Nodes("Path")->Value = "  /home/me/site \t";
    EXPECT_EQ(p.GetLocalPath(), "/home/me/site/");
    p.Nodes("Host")->Value = "h";
    for (const auto &[stored, path, url] : {std::tuple{"", "", "ftp://h"},
                                            {" site ", "site/", "ftp://h/~site/"},
                                            {"/site", "/site/", "ftp://h/site/"}}) {
        p.Nodes("RemotePath")->Value = stored;
        EXPECT_EQ(p.GetRemotePath() + " " + p.GetUrl(), QString(path) + " " + url);
    }

    // A password: stored, else the command line's third argument (the prompt: see the dialogs).
    TProject::CommandLineArguments = {"a.zdx", "FTPWindow", "cmdline"};
    TProject stored, fromArgs;
    stored.Nodes("Pass")->SetAsPassword("fizz");
    EXPECT_TRUE(stored.AskPassword() && fromArgs.AskPassword());
    EXPECT_EQ(stored.GetPassword() + fromArgs.GetPassword(), "fizzcmdline");

    // TLS seen on a server is forgotten with the server; an unknown encryption mode reads "off".
    TProject seen;
    seen.LoadFromBytes("<project>\r\n<Host>\r\nftp.example.com\r\n</Host>\r\n<Port>\r\n21\r\n"
                       "</Port>\r\n<Encryption>\r\nssl\r\n</Encryption>\r\n</project>\r\n");
    EXPECT_EQ(ProjectEncryption(seen), "off");
    EXPECT_FALSE(ProjectExpectsTls(seen));
    EXPECT_LT(seen.IndexOf("TlsOffered"), 0); // reading adds no key
    SetProjectTlsOffered(seen);
    TProjectOptions options;
    options.Load(seen);
    options.Host = " FTP.example.com ";
    options.Save(seen);
    EXPECT_TRUE(ProjectExpectsTls(seen));
    options.Port = "2121";
    options.Save(seen);
    EXPECT_FALSE(ProjectExpectsTls(seen));
    seen.Nodes("TrustedCertificate")->SetAsString("AB:CD");
    EXPECT_TRUE(ProjectExpectsTls(seen));
}

// Against a real Secret Service: an old file's password moves into the keyring on its next save
// (one notice), the file keeps only the entry's id; a changed or emptied one follows.
TEST_F(ProjectTest, PasswordsLiveInTheKeyringAndAFileHeldOneMovesThereOnItsNextSave)
{
    qputenv("DBUS_SESSION_BUS_ADDRESS", PrivateKeyringBus().toUtf8());
    TSecretServiceKeyring keyring;
    QString why;
    ASSERT_TRUE(keyring.Available(why)) << why.toStdString();
    TProject::Keyring = &keyring;
    QStringList notices;
    TProject::Notice = [&](const QString &line) { notices.append(line); };
    const QString file = ProjectsFolder() + "site.zdx";
    ASSERT_TRUE(QFile::copy(TestDataPath("site.zdx"), file));
    TProject project;
    project.Load(file);
    project.Save(true);
    EXPECT_EQ(notices.size(), 1);
    // "Pass" stays, empty: a reader without keyring support asks for the password.
    EXPECT_TRUE(ReadWholeFile(file).contains("<Pass>\r\n</Pass>"));
    TProject reread;
    reread.Load(file);
    const QString id = reread.Nodes("PassKeyring")->Value;
    EXPECT_TRUE(reread.AskPassword() && reread.GetPassword() == "secret");
    for (const QString &password : {QStringLiteral("secret"), QStringLiteral(" n3w"), QString()}) {
        if (password != "secret") {
            reread.SetStoredPassword(password);
            reread.Save(true);
        }
        QString found, error;
        EXPECT_EQ(keyring.Lookup(id, found, error),
                  password.isEmpty() ? TPasswordKeyring::klNotFound : TPasswordKeyring::klFound);
        EXPECT_EQ(found, password);
        TXMLStore scrambled;
        scrambled.SetAsPassword(password);
        EXPECT_FALSE(ReadWholeFile(file).contains(
            password.isEmpty() ? "PassKeyring" : scrambled.Value.toUtf8().constData()));
    }
    EXPECT_EQ(notices.size(), 1);
}

TEST(XMLStoreText, WritesTagsAndEscapedValuesAndReadsThemBack)
{
    TXMLStore root;
    root.Name = "project";
    root.Nodes("Port")->SetAsInteger(21);
    root.Add()->Name = "Empty";
    root.Nodes("Text")->Value = "a<b&c>d \"q\" 'x'";
    root.Nodes("Entity")->Value = "&lt;";
    root.Nodes("Blanks")->Value = " a\r\nb\t";
    root.Nodes("Ref")->Value = "&#32;\u00e9\U0001F600";
    const QByteArray bytes = root.SaveToBytes();
    EXPECT_EQ(bytes, QByteArray("<project>\n<Port>\n21\n</Port>\n<Empty>\n</Empty>\n"
                                "<Text>\na&lt;b&amp;c&gt;d \"q\" 'x'\n</Text>\n"
                                "<Entity>\n&amp;lt;\n</Entity>\n<Blanks>\n a\r\nb\t\n</Blanks>\n"
                                "<Ref>\n&amp;#32;\xc3\xa9\xf0\x9f\x98\x80\n</Ref>\n</project>\n")
                         .replace("\n", "\r\n")
                         .replace("\r\r\n", "\r\n"));
    TXMLStore back;
    back.LoadFromBytes(bytes);
    // A plain value loses the blanks at its ends on reading; everything else comes back.
    root.Nodes("Blanks")->Value = "a\r\nb";
    EXPECT_EQ(back.Nodes("Text")->Value, root.Nodes("Text")->Value);
    EXPECT_EQ(back.SaveToBytes(), root.SaveToBytes());
    EXPECT_EQ(back.Count(), 6); // lookups found, nothing appended

    EXPECT_EQ(ErrorOf<EStoreError>([&] { back.LoadFromFile("/no/such.xml"); }),
              "Cannot open file /no/such.xml");
    // Deep nesting does not exhaust the stack.
    back.LoadFromBytes(QByteArray("<a>").repeated(200000));
    EXPECT_EQ(back.SaveToBytes().size(), 200000 * 11);
}

TEST(XMLStoreAccessors, IntegerRoundingAndPassword)
{
    TXMLStore n;
    // Halves round to even; both decimal separators are taken.
    const QLocale saved;
    for (const QLocale &locale : {QLocale(QLocale::English), QLocale(QLocale::German)}) {
        QLocale::setDefault(locale);
        const std::pair<const char *, int> rows[]
            = {{"2,6", 3}, {"2.5", 2}, {"3.5", 4}, {"-2.5", -2}, {" 42\r\n", 42}, {"", 0}};
        for (const auto &[text, value] : rows) {
            n.Value = text;
            EXPECT_EQ(n.AsInteger(), value) << text;
        }
    }
    QLocale::setDefault(saved);
    n.Value = "12abc";
    EXPECT_EQ(ErrorOf<EStoreError>([&] { n.AsInteger(); }),
              "'12abc' is not a valid floating point value");
    n.SetAsPassword("secret");
    EXPECT_EQ(n.Value, ")?9(?."); // the bytes the original program stored
    n.SetAsPassword("p\u00e4ss w\u00f6rd");
    EXPECT_EQ(n.AsPassword(), "p\u00e4ss w\u00f6rd");
}
