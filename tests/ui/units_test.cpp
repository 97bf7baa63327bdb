// The window's pure helpers: reading the size box, rounding, the saved-position text, the
// dialogs' filter conversion, and the progress dialog's rate, time left and sizes.
#include "open.h"
#include "path_text.h"
#include "progress_presenter.h"
#include "settings.h"
#include "size_text.h"
#include "transfer_rate.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <cstdint>
#include <limits>

using namespace tolvar;

class UnitsTest : public QObject {
    Q_OBJECT

private slots:
    // A join's check counts the broken files alone and names a recovery file apart; the copy
    // that follows reads the broken files again under its own words.
    void progressNamesWhatIsRead_data() {
        QTest::addColumn<bool>("checking");
        QTest::addColumn<bool>("recoveryFile");
        QTest::addColumn<QString>("opening");
        QTest::newRow("check of a broken file") << true << false << "Checking broken file 3 of 31:";
        QTest::newRow("check of a recovery file") << true << true << "Checking recovery file 2:";
        QTest::newRow("copy") << false << false << "Reading broken file 3 of 31:";
    }
    void progressNamesWhatIsRead() {
        QFETCH(bool, checking);
        QFETCH(bool, recoveryFile);
        QFETCH(QString, opening);
        tolvar::Progress progress;
        progress.partIndex = recoveryFile ? 1 : 2;
        progress.partCount = 31;
        progress.partPath = "/a/big.002";
        progress.checking = checking;
        progress.recoveryFile = recoveryFile;
        const QString label = tolvar::ProgressPresenter::describe(
            progress, tolvar::ProgressPresenter::Direction::Reading, tolvar::TransferRate{});
        QCOMPARE(label.section(QLatin1Char('\n'), 0, 0), opening);
    }

    void sizeTextAcceptsPointAndLocaleSeparator_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("locale");
        QTest::addColumn<double>("expected");
        QTest::newRow("point, English") << "1.5"
                                        << "en_US" << 1.5;
        QTest::newRow("point, German") << "1.5"
                                       << "de_DE" << 1.5;
        QTest::newRow("comma, German") << "1,5"
                                       << "de_DE" << 1.5;
        QTest::newRow("comma, French") << "2,25"
                                       << "fr_FR" << 2.25;
        QTest::newRow("blanks around") << "  42 \t"
                                       << "en_US" << 42.0;
        QTest::newRow("sign and exponent") << "-1e3"
                                           << "en_US" << -1000.0;
        QTest::newRow("zero") << "0"
                              << "en_US" << 0.0;
    }
    void sizeTextAcceptsPointAndLocaleSeparator() {
        QFETCH(QString, text);
        QFETCH(QString, locale);
        QFETCH(double, expected);
        const auto value = parseSizeText(text, QLocale(locale));
        QVERIFY(value.has_value());
        QCOMPARE(*value, expected);
    }

    void sizeTextRefusesWhatIsNoNumber_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("locale");
        QTest::newRow("empty") << ""
                               << "en_US";
        QTest::newRow("blanks only") << "   "
                                     << "en_US";
        QTest::newRow("letters") << "abc"
                                 << "en_US";
        QTest::newRow("number and unit") << "10KB"
                                         << "en_US";
        QTest::newRow("comma where it is no separator") << "1,5"
                                                        << "en_US";
        QTest::newRow("English grouping") << "1,000"
                                          << "en_US";
        QTest::newRow("German grouping") << "1.000,5"
                                         << "de_DE";
        QTest::newRow("blank inside") << "1 5"
                                      << "en_US";
        QTest::newRow("two points") << "1.2.3"
                                    << "en_US";
        QTest::newRow("point before three digits, German") << "1.500"
                                                           << "de_DE";
    }
    void sizeTextRefusesWhatIsNoNumber() {
        QFETCH(QString, text);
        QFETCH(QString, locale);
        QVERIFY(!parseSizeText(text, QLocale(locale)).has_value());
    }

    // Only a text both readings accept, with different values, is ambiguous; the message
    // names both readings and how to write each in the user's locale.
    void sizeTextNamesBothReadingsWhenTheyDiffer_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("message");
        QTest::newRow("German thousands") << " 1.500 "
                                          << "de_DE"
                                          << "'1.500' could mean 1.5 or 1500: write 1,5 or 1500.";
        QTest::newRow("negative, German") << "-12.345"
                                          << "de_DE"
                                          << "'-12.345' could mean -12.345 or -12345: write "
                                             "-12,345 or -12345.";
        QTest::newRow("German comma") << "1,5"
                                      << "de_DE"
                                      << "";
        QTest::newRow("point where it cannot group") << "1.5"
                                                     << "de_DE"
                                                     << "";
        QTest::newRow("digits alone") << "1500"
                                      << "de_DE"
                                      << "";
        QTest::newRow("point in English") << "1.500"
                                          << "en_US"
                                          << "";
    }
    void sizeTextNamesBothReadingsWhenTheyDiffer() {
        QFETCH(QString, text);
        QFETCH(QString, locale);
        QFETCH(QString, message);
        QCOMPARE(ambiguousSizeMessage(text, QLocale(locale)), message);
    }

    // Installed, the program's folder is /usr/bin: the dialogs start there only when the user
    // may write in it, else beside the panel's chosen file, else at home.
    void dialogsStartWhereTheUserMayWrite() {
        QTemporaryDir writable;
        const QString gone = writable.filePath(QStringLiteral("gone/bin"));
        const QString chosen = writable.filePath(QStringLiteral("film.avi"));
        QCOMPARE(dialogStartFolder(writable.path(), chosen), writable.path());
        QCOMPARE(dialogStartFolder(gone, chosen), writable.path());
        QCOMPARE(dialogStartFolder(gone, writable.filePath(QStringLiteral("out/film."))),
                 QDir::homePath());
        QCOMPARE(dialogStartFolder(gone, QString()), QDir::homePath());
    }

    void wholeKilobytesConvertsUnits_data() {
        QTest::addColumn<double>("size");
        QTest::addColumn<bool>("megabytes");
        QTest::addColumn<int>("expected");
        QTest::newRow("2.5 KB") << 2.5 << false << 2;
        QTest::newRow("3.5 KB") << 3.5 << false << 4;
        QTest::newRow("0.4 KB") << 0.4 << false << 0;
        QTest::newRow("1.5 MB") << 1.5 << true << 1536;
        QTest::newRow("0.0005 MB") << 0.0005 << true << 1;
        QTest::newRow("largest KB") << 2147483647.0 << false << 2147483647;
        QTest::newRow("just below a half") << 2147483646.5 << false << 2147483646;
        QTest::newRow("largest MB") << 2097151.0 << true << 2147482624;
    }
    void wholeKilobytesConvertsUnits() {
        QFETCH(double, size);
        QFETCH(bool, megabytes);
        QFETCH(int, expected);
        const auto result = wholeKilobytes(size, megabytes);
        QVERIFY(result.ok());
        QCOMPARE(result.value(), expected);
    }

    void wholeKilobytesOverflowIsAFailure_data() {
        QTest::addColumn<double>("size");
        QTest::addColumn<bool>("megabytes");
        QTest::newRow("3000000000 KB") << 3000000000.0 << false;
        QTest::newRow("2147483647.5 KB rounds up out of range") << 2147483647.5 << false;
        QTest::newRow("2097152 MB") << 2097152.0 << true;
        QTest::newRow("infinity") << std::numeric_limits<double>::infinity() << false;
    }
    void wholeKilobytesOverflowIsAFailure() {
        QFETCH(double, size);
        QFETCH(bool, megabytes);
        const auto result = wholeKilobytes(size, megabytes);
        QVERIFY(!result.ok());
        QCOMPARE(result.failure().kind, FailureKind::Overflow);
    }

    void wholeKilobytesOfNaNIsInvalidNumber() {
        const auto result = wholeKilobytes(std::numeric_limits<double>::quiet_NaN(), false);
        QVERIFY(!result.ok());
        QCOMPARE(result.failure().kind, FailureKind::InvalidNumber);
    }

    void twipsTextIsShortestDecimal_data() {
        QTest::addColumn<float>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("whole") << 1234.0f << "1234";
        QTest::newRow("negative") << -1240.0f << "-1240";
        QTest::newRow("zero") << 0.0f << "0";
        QTest::newRow("fraction") << 12.5f << "12.5";
        QTest::newRow("large whole, no exponent") << 1000000.0f << "1000000";
        QTest::newRow("single precision") << 0.1f << "0.1";
    }
    void twipsTextIsShortestDecimal() {
        QFETCH(float, value);
        QFETCH(QString, text);
        QCOMPARE(formatTwips(value), text);
        QCOMPARE(parseTwips(text), std::optional<float>(value));
    }

    void storedTwipsThatAreNoNumberAreRefused() {
        QVERIFY(!parseTwips(QStringLiteral("abc")).has_value());
        QVERIFY(!parseTwips(QString()).has_value());
        QVERIFY(!parseTwips(QStringLiteral("12px")).has_value());
        QVERIFY(!parseTwips(QStringLiteral("inf")).has_value());
        QVERIFY(!parseTwips(QStringLiteral("nan")).has_value());
        QCOMPARE(parseTwips(QStringLiteral(" -300 ")), std::optional<float>(-300.0f));
    }

    void centringRoundsThenTruncates() {
        // The classic example: a screen of 11520 twips and a window of 14000.
        QCOMPARE(centredTwips(11520, 14000), std::int64_t{-1240});
        QCOMPARE(centredTwips(11520, 3735), std::int64_t{5760 - 1867});
        // Whole twips first, half to even: 11520.5 is 11520, 11521.5 is 11522.
        QCOMPARE(centredTwips(11520.5, 0), std::int64_t{5760});
        QCOMPARE(centredTwips(11521.5, 0), std::int64_t{5761});
        // Each half truncated on its own: 7 div 2 - 5 div 2 = 3 - 2.
        QCOMPARE(centredTwips(7, 5), std::int64_t{1});
    }

    void dialogFiltersBecomeQtNameFilters_data() {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("all files shows names without a dot")
            << "All Files |*.*" << QStringList{"All Files (*)"};
        QTest::newRow("trailing bar is optional")
            << "All Files |*.*|" << QStringList{"All Files (*)"};
        QTest::newRow("first parts keep one pattern group")
            << "000 Files (*.000)|*.000" << QStringList{"000 Files (*.000)"};
        QTest::newRow("several entries and patterns")
            << "Parts|*.000;*.001|All (*.*)|*.*" << QStringList{"Parts (*.000 *.001)", "All (*)"};
        QTest::newRow("empty filter") << "" << QStringList{};
        QTest::newRow("lone bar") << "|" << QStringList{};
        QTest::newRow("description without pattern") << "Nothing" << QStringList{};
    }
    void dialogFiltersBecomeQtNameFilters() {
        QFETCH(QString, filter);
        QFETCH(QStringList, expected);
        QCOMPARE(Open::nameFilters(filter), expected);
    }

    void namesSurviveTheTripThroughText_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("ASCII") << QByteArray("/home/user/movie.avi");
        QTest::newRow("UTF-8") << QByteArray("/tmp/caf\xc3\xa9 \xe2\x82\xac.bin");
        QTest::newRow("Latin-1") << QByteArray("/tmp/caf\xe9.bin");
        QTest::newRow("lone continuation") << QByteArray("/a\x80"
                                                         "b");
        QTest::newRow("truncated sequence at end") << QByteArray("/a\xe2\x82");
        QTest::newRow("overlong slash") << QByteArray("/a\xc0\xaf"
                                                      "b");
        QTest::newRow("encoded surrogate") << QByteArray("/a\xed\xb2\x80");
        QTest::newRow("mixed with emoji") << QByteArray("/\xf0\x9f\x98\x80\xff\xfe.000");
    }
    void namesSurviveTheTripThroughText() {
        QFETCH(QByteArray, bytes);
        const QString text = pathFromBytes(bytes);
        QCOMPARE(pathToBytes(text), bytes);
        // Names Qt can already represent are shown exactly as Qt shows them.
        if (QFile::encodeName(QFile::decodeName(bytes)) == bytes)
            QCOMPARE(text, QFile::decodeName(bytes));
    }

    void everyByteStringSurvives() {
        // All two-byte names over a small alphabet that mixes ASCII, lead and continuation
        // bytes, plus a few longer random ones.
        const QByteArray alphabet("a/\x80\xbf\xc2\xc3\xe2\xed\xf0\xf4\xff", 11);
        for (char x : alphabet)
            for (char y : alphabet)
                for (char z : alphabet) {
                    const QByteArray name = QByteArray(1, x) + y + z;
                    QCOMPARE(pathToBytes(pathFromBytes(name)), name);
                }
        unsigned seed = 1;
        for (int round = 0; round < 2000; ++round) {
            QByteArray name;
            for (int i = 0; i < 12; ++i) {
                seed = seed * 1103515245u + 12345u;
                name += static_cast<char>((seed >> 16) & 0xff ? (seed >> 16) & 0xff : 1);
            }
            QCOMPARE(pathToBytes(pathFromBytes(name)), name);
        }
    }

    void uriListEntriesNameLocalFiles() {
        QCOMPARE(localFileFromUri("file:///tmp/caf%E9.bin"), QByteArray("/tmp/caf\xe9.bin"));
        QCOMPARE(localFileFromUri("file://localhost/tmp/a%20b"), QByteArray("/tmp/a b"));
        QCOMPARE(localFileFromUri("  file:///x\r"), QByteArray("/x"));
        QVERIFY(localFileFromUri("https://example.org/a").isEmpty());
        QVERIFY(localFileFromUri("file://otherhost/tmp/a").isEmpty());
        QVERIFY(localFileFromUri("/tmp/a").isEmpty());
    }

    // Progress figures -----------------------------------------------------------------

    void rateSettlesFirstThenFollowsTheLatestSeconds() {
        TransferRate rate;
        // 10 MiB a second for eight seconds, reported every 100 ms, then 1 MiB a second.
        const std::uint64_t mib = 1024 * 1024;
        std::uint64_t done = 0;
        for (std::int64_t ms = 0; ms <= 1900; ms += 100, done += mib)
            rate.add(ms, done);
        QVERIFY(!rate.bytesPerSecond().has_value());
        for (std::int64_t ms = 2000; ms <= 8000; ms += 100, done += mib)
            rate.add(ms, done);
        QCOMPARE(qRound(*rate.bytesPerSecond()), qRound(10.0 * mib));
        QCOMPARE(qRound(*rate.secondsLeft(done + 100 * mib)), 10);
        for (std::int64_t ms = 8100; ms <= 14000; ms += 100, done += mib / 10)
            rate.add(ms, done);
        QCOMPARE(qRound(*rate.bytesPerSecond() / 1024), 1024);
        // A copy that stands still has no rate to give.
        TransferRate stuck;
        stuck.add(0, 500);
        stuck.add(5000, 500);
        QVERIFY(!stuck.secondsLeft(1000).has_value());
    }

    void progressSizesAreCountedIn1024sWithTheSizeBoxsUnits_data() {
        QTest::addColumn<qulonglong>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("bytes") << 1023ULL << "1023 bytes";
        QTest::newRow("one KB") << 1024ULL << "1.00 KB";
        QTest::newRow("tens of KB") << 10ULL * 1024 + 512 << "10.5 KB";
        QTest::newRow("700 MB") << 700ULL * 1024 * 1024 << "700 MB";
        QTest::newRow("GB") << 1900000000ULL << "1.77 GB";
    }
    void progressSizesAreCountedIn1024sWithTheSizeBoxsUnits() {
        QFETCH(qulonglong, bytes);
        QFETCH(QString, text);
        QLocale::setDefault(QLocale::c());
        QCOMPARE(formatByteCount(bytes), text);
    }

    void timeLeftIsRoundedToWhatAReaderNeeds_data() {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("under a second") << 0.3 << "1 second";
        QTest::newRow("43 s") << 43.0 << "45 seconds";
        QTest::newRow("58 s") << 58.0 << "1 minute";
        QTest::newRow("200 s") << 200.0 << "3 minutes";
        QTest::newRow("3900 s") << 3900.0 << "1 hour 5 minutes";
        QTest::newRow("two hours") << 7200.0 << "2 hours";
    }
    void timeLeftIsRoundedToWhatAReaderNeeds() {
        QFETCH(double, seconds);
        QFETCH(QString, text);
        QCOMPARE(formatTimeLeft(seconds), text);
    }
};

QTEST_GUILESS_MAIN(UnitsTest)
#include "units_test.moc"
