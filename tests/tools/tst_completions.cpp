// morv-card's bash completion as the build writes it from the command table, run in bash with
// bash-completion's two helpers stood in for: what a user gets after each word, so that the
// completion cannot drift from the commands, their options and their arguments unseen.
#include <QProcess>
#include <QtTest>

class TestCompletions : public QObject
{
    Q_OBJECT

private slots:
    void completes_data();
    void completes();
};

void TestCompletions::completes_data()
{
    QTest::addColumn<QString>("line");     // what is typed; the word under the cursor last
    QTest::addColumn<QString>("expected"); // the candidates, or "files: ARGS" for _filedir ARGS

    const QString commands = "info verify archive restore export-song import-song rename clear make-demo help";
    const QString numbers = "1 2 3 4 5 6 7 8 9 10 11 12";
    // clang-format off
    QTest::newRow("a command")              << "morv-card "                                        << commands;
    QTest::newRow("a command, begun")       << "morv-card ex"                                      << "export-song";
    QTest::newRow("help of a command")      << "morv-card help "                                   << commands;
    QTest::newRow("the card to archive")    << "morv-card archive "                                << "files: ";
    QTest::newRow("the archive to make")    << "morv-card archive CARD "                           << "files: mlad";
    QTest::newRow("the archive to put")     << "morv-card restore "                                << "files: mlad";
    QTest::newRow("restore's options")      << "morv-card restore A.mlad CARD --"                  << "--help --version --quiet --verbose --yes --no-safety-copy --safety-dir --no-verify --no-lock --write-all --force --json";
    QTest::newRow("a folder for copies")    << "morv-card restore --safety-dir "                   << "files: -d";
    QTest::newRow("after an option value")  << "morv-card import-song --safety-dir D S.mlsd CARD " << numbers;
    QTest::newRow("a slot to export")       << "morv-card -q export-song CARD "                    << numbers;
    QTest::newRow("the song file made")     << "morv-card export-song CARD 3 "                     << "files: mlsd";
    QTest::newRow("slots in order, or all") << "morv-card clear CARD "                             << numbers + " all";
    QTest::newRow("all songs")              << "morv-card clear CARD a"                            << "all";
    QTest::newRow("a demo card's folder")   << "morv-card make-demo "                              << "files: -d";
    QTest::newRow("no name to guess")       << "morv-card archive --name "                         << "";
    QTest::newRow("an option, no command")  << "morv-card --v"                                     << "--version --verbose";
    // clang-format on
}

void TestCompletions::completes()
{
    QFETCH(QString, line);
    QFETCH(QString, expected);

    // What bash-completion's _init_completion and _filedir would do, reduced to what is checked.
    const QString script = QStringLiteral(R"(
_init_completion() { words=("${COMP_WORDS[@]}"); cword=$COMP_CWORD; cur=${words[cword]}; prev=${words[cword-1]}; }
_filedir() { COMPREPLY=("files: $*"); }
complete() { :; }
source "$1"
read -ra COMP_WORDS <<< "$2"
[[ $2 == *' ' ]] && COMP_WORDS+=("")
COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
_morv_card
printf '%s' "${COMPREPLY[*]}"
)");
    QProcess bash;
    bash.start("bash", {"-c", script, "bash", QStringLiteral(MORV_COMPLETIONS_DIR "/morv-card"), line});
    QVERIFY(bash.waitForFinished());
    QCOMPARE(bash.readAllStandardError(), QByteArray());
    QCOMPARE(QString::fromUtf8(bash.readAllStandardOutput()), expected);
}

MORV_TEST_MAIN(TestCompletions)
#include "tst_completions.moc"
