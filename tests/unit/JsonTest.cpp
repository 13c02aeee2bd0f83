#include "json.h"

#include "QStringPrinter.h"
#include "VbError.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <random>
#include <thread>
#include <utility>

namespace {

// One line per tree, the same form canonical.py prints for Python's reading: strings as UTF-16 code units
// with everything outside printable ASCII as \uXXXX, numbers in plain decimal, "~" for empty (which Python
// never gives).
void canonical(const JsonValue& v, QString& out) {
    const auto text = [&out](const QString& s) {
        out += u'"';
        for (const QChar c : s) {
            const char16_t u = c.unicode();
            if (u >= 0x20 && u < 0x7F && u != u'"' && u != u'\\')
                out += c;
            else
                out += QStringLiteral("\\u%1").arg(uint(u), 4, 16, QLatin1Char('0'));
        }
        out += u'"';
    };
    switch (v.kind()) {
    case JsonValue::Kind::Empty:
        out += u'~';
        break;
    case JsonValue::Kind::Null:
        out += u"null";
        break;
    case JsonValue::Kind::Boolean:
        out += v.boolean() ? u"true" : u"false";
        break;
    case JsonValue::Kind::Number:
        out += v.number().toString();
        break;
    case JsonValue::Kind::String:
        text(v.text());
        break;
    case JsonValue::Kind::Array: {
        out += u'[';
        bool first = true;
        for (const JsonValue& e : v.array()) {
            if (!std::exchange(first, false))
                out += u',';
            canonical(e, out);
        }
        out += u']';
        break;
    }
    case JsonValue::Kind::Object: {
        out += u'{';
        bool first = true;
        for (const JsonMember& m : v.object()) {
            if (!std::exchange(first, false))
                out += u',';
            text(m.key);
            out += u':';
            canonical(m.value, out);
        }
        out += u'}';
        break;
    }
    }
}

QString canonical(const JsonValue& v) {
    QString out;
    canonical(v, out);
    return out;
}

// The parse as "<canonical form> | <complaints>", "-" for nothing.
QString parsed(const QString& text) {
    const std::optional<JsonValue> root = json::JsonParse(text);
    return (root ? canonical(*root) : QStringLiteral("-")) + QStringLiteral(" | ") + json::JsonParseErrors();
}

bool holdsEmpty(const JsonValue& v) {
    switch (v.kind()) {
    case JsonValue::Kind::Empty:
        return true;
    case JsonValue::Kind::Array:
        return std::any_of(v.array().begin(), v.array().end(), holdsEmpty);
    case JsonValue::Kind::Object:
        return std::any_of(v.object().begin(), v.object().end(),
                           [](const JsonMember& m) { return holdsEmpty(m.value); });
    default:
        return false;
    }
}

int depthOf(const JsonValue& v) {
    int depth = 0;
    for (const JsonValue* at = &v;;) {
        if (at->isArray() && at->array().count() > 0)
            at = &at->item(1);
        else if (at->isObject() && at->object().count() > 0)
            at = &at->object().begin()->value;
        else
            return depth + (at->isArray() || at->isObject());
        ++depth;
    }
}

int errorOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const VbError& e) {
        EXPECT_EQ(e.description(), VbErrors::describe(e.number()));
        return e.number();
    }
    return 0;
}

constexpr qsizetype ErrorTextLimit = 65536;

// Fails the whole run when a parse hangs, naming the input it hangs on.
class Watchdog {
public:
    explicit Watchdog(std::chrono::seconds limit)
        : thread_([this, limit] {
              std::unique_lock lock(mutex_);
              if (!done_cv_.wait_for(lock, limit, [this] { return done_; })) {
                  std::fprintf(stderr, "JsonTest: input %d did not finish\n", current.load());
                  std::abort();
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        done_cv_.notify_one();
        thread_.join();
    }
    std::atomic<int> current{-1};

private:
    std::mutex mutex_;
    std::condition_variable done_cv_;
    bool done_ = false;
    std::thread thread_;
};

TEST(JsonTest, Reader) {
    struct Case {
        QString text;
        QString form;
        QString errors;
    };
    const QString dup = QStringLiteral("This key is already associated with an element of this collection: ");
    const Case cases[] = {
        // Root
        {"", "-", "Invalid JSON"},
        {"  \r\n\t ", "-", "Invalid JSON"},
        {"'a'", "-", "Invalid JSON"},
        {"[1] trailing {", "[1]", ""},
        // Filler: blanks, parentheses, comments and the flags' odd corners
        {"/* note */ {a:1}", R"({"a":1})", ""},
        {"// line\r\n[1]", "[1]", ""},
        {"/* a **/ b */ [1]", "[1]", ""},
        {"// x / [1]", "[1]", ""},
        {"*/ x\n[1]", "[1]", ""},
        {"([1 * 2 / 3 (4)])", "[1,2,3,4]", ""},
        {"/*\n}\n*/{\"a\"/*c*/:/*d*/1}", R"({"a":1})", ""},
        // Keys
        {"{'k' : 'v'}", R"({"k":"v"})", ""},
        {"{'a':1 'b':2}", R"({"a":1,"b":2})", ""},
        {"{a:1,b:{c:2},'d':[3]}", R"({"a":1,"b":{"c":2},"d":[3]})", ""},
        {"{'first name': 1}", R"({"firstname":1})", ""},
        {R"({"x:y": 1, :2})", R"({"x:y":1,"":2})", ""},
        {R"({"a" 1})", R"({"a":1})", "Invalid Key at position 6 : a\r\n"},
        {R"({'a"b': 1})", R"({"ab:1}":~})", "Missing '}': {'a\"b': 1}\r\n"},
        {"{'a':1,'a':2}", R"({"a":1})", dup + "a\r\n"},
        // Literals; a misspelt one ends an array, while an object reads on from it as the next key
        {"[true,false,null]", "[true,false,null]", ""},
        {"[1, tru, 2]", "[1]", "Invalid Boolean at position 5 : tru, 2]\r\nInvalid literal: tru, 2]\r\n"},
        {"[nulL]", "[]", "Invalid null value at position 2 : nulL]\r\nInvalid literal: nulL]\r\n"},
        {"[[t]]", "[[]]",
         "Invalid Boolean at position 3 : t]]\r\nInvalid literal: t]]\r\n"
         "Invalid Boolean at position 3 : t]]\r\nInvalid literal: t]]\r\n"},
        {"{'a': nul, 'b': 2}", R"({"a":~,"nul,b":2})", "Invalid null value at position 7 : nul, 'b': 2}\r\n"},
        {"{a: fals}", R"({"a":false,"fals}":~})",
         "Invalid Boolean at position 5 : fals}\r\nMissing '}': {a: fals}\r\n"},
        // Failed elements and members: the innermost reader stops, the ones above read on from there
        {"[True]", "[]", "Type mismatch: True]\r\n"},
        {"[1, x, 2, 3, 4, 5, 6, 7, 8]", "[1]", "Type mismatch: x, 2, 3, 4, 5, 6, 7,\r\n"},
        {"[[1, x], 2]", "[[1]]", "Type mismatch: x], 2]\r\nType mismatch: x], 2]\r\n"},
        {"{a: {b: x}, c: 1}", R"({"a":{},"x},c":1})", "Type mismatch: b\r\n"},
        {"[1,]", "[1]", "Type mismatch: ]\r\n"},
        {"[1-2]", "[]", "Type mismatch: ]\r\n"},
        {"[79228162514264337593543950336]", "[]", "Overflow: ]\r\n"},
        {"{a: 1e29, b: 2}", "{}", "Overflow: a\r\n"},
        {"[1e3]", "[1000]", ""},
        // The end of the text
        {"[1,2", "[1,2]", "Missing ']': [1,2\r\n"},
        {R"({"alpha": 1, "beta": 2)", R"({"alpha":1,"beta":2})", "Missing '}': alpha\": 1, \"beta\": 2\r\n"},
        {"{a:[1,{b:2", R"({"a":[1,{"b":2}]})",
         "Missing '}': {a:[1,{b:2\r\nMissing ']': {a:[1,{b:2\r\nMissing '}': {a:[1,{b:2\r\n"},
        {"{a:", R"({"a":~})", "Missing '}': {a:\r\n"},
        {"[1,", "[1,~]", "Missing ']': [1,\r\n"},
        {"['abc", R"(["abc"])", "Missing ']': ['abc\r\n"},
        {"[\"abc\\", R"(["abc"])", "Missing ']': [\"abc\\\r\n"},
        {"[\"\\u4", R"(["\u0004"])", "Missing ']': [\"\\u4\r\n"},
        // Strings and escapes
        {R"(["\"\\\/\'\b\f\n\r\t"])", R"(["\u0022\u005c/'\u0008\u000c\u000a\u000d\u0009"])", ""},
        {"['x\\qy']", R"(["xqy"])", ""},
        {"['\\u00e9', '\\u00E9']", R"(["\u00e9","\u00e9"])", ""},
        {R"(["\ud83d\ude00"])", R"(["\ud83d\ude00"])", ""},
        {R"(["\uzz12x", "\u12x4y"])", R"(["\u0000x","\u0012y"])", ""},
        {"['say \"hi\"', \"it's\"]", R"(["say \u0022hi\u0022","it's"])", ""},
        {"['it''s']", R"(["it","s"])", ""},
        {"[\"한글\r\n\"]", R"(["\ud55c\uae00\u000d\u000a"])", ""},
        {"['/* no comment */ (x)']", R"j(["/* no comment */ (x)"])j", ""},
    };
    Watchdog watchdog(std::chrono::seconds(60));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        ++watchdog.current;
        EXPECT_EQ(parsed(c.text), c.form + QStringLiteral(" | ") + c.errors);
    }

    // Every parse starts with no complaints.
    json::JsonParse(QString());
    json::JsonParse(QStringLiteral("[1]"));
    EXPECT_EQ(json::JsonParseErrors(), QString());
}

TEST(JsonTest, DecimalConversion) {
    using S = JsonDecimal::Status;
    struct Case {
        QString text;
        S status;
        QString plain;
    };
    const QString max = QStringLiteral("79228162514264337593543950335");
    const QString tiny = QStringLiteral("0.0000000000000000000000000001");
    const Case cases[] = {
        {"0", S::Ok, "0"},
        {"-0", S::Ok, "0"},
        {"-0.000e5", S::Ok, "0"},
        {"+5", S::Ok, "5"},
        {"007", S::Ok, "7"},
        {"1.50", S::Ok, "1.5"},
        {".5", S::Ok, "0.5"},
        {"5.", S::Ok, "5"},
        {"-.5e1", S::Ok, "-5"},
        {"1e3", S::Ok, "1000"},
        {"1E+3", S::Ok, "1000"},
        {"1e05", S::Ok, "100000"},
        {"-2.5e-3", S::Ok, "-0.0025"},
        {"12e-1", S::Ok, "1.2"},
        {"0e999999999999999999999", S::Ok, "0"},
        // The range
        {max, S::Ok, max},
        {"-" + max, S::Ok, "-" + max},
        {"7.9228162514264337593543950335e28", S::Ok, max},
        {"79228162514264337593543950336", S::Overflow, ""},
        {max + ".4", S::Ok, max},
        {max + ".5", S::Overflow, ""},
        {"1e28", S::Ok, "1" + QString(28, u'0')},
        {"1e29", S::Overflow, ""},
        {"0.1e30", S::Overflow, ""},
        {"1e999999999999999999", S::Overflow, ""},
        {"1" + QString(29, u'0'), S::Overflow, ""},
        // Places beyond 28 and digits beyond the magnitude round half to even
        {"1e-28", S::Ok, tiny},
        {"1e-29", S::Ok, "0"},
        {"5e-29", S::Ok, "0"},
        {"6e-29", S::Ok, tiny},
        {"15e-29", S::Ok, "0.0000000000000000000000000002"},
        {"25e-29", S::Ok, "0.0000000000000000000000000002"},
        {"-1e-999999999999", S::Ok, "0"},
        {"0.12345678901234567890123456789", S::Ok, "0.1234567890123456789012345679"},
        {"1234567890123456789012345678.9", S::Ok, "1234567890123456789012345678.9"},
        {"12345678901234567890123456789.5", S::Ok, "12345678901234567890123456790"},
        {"12345678901234567890123456788.5", S::Ok, "12345678901234567890123456788"},
        {"3." + QString(100, u'3'), S::Ok, "3." + QString(28, u'3')},
        {"9." + QString(100, u'9'), S::Ok, "10"},
        // Digits far beyond the precision still decide a tie
        {"5" + QString(40, u'0') + "1e-70", S::Ok, tiny},
        {"5" + QString(41, u'0') + "e-70", S::Ok, "0"},
        {"0." + QString(1000, u'0') + "1", S::Ok, "0"},
        {QString(1000, u'0') + "12", S::Ok, "12"},
        // Not of the form
        {"", S::NotANumber, ""},
        {"-", S::NotANumber, ""},
        {"+", S::NotANumber, ""},
        {".", S::NotANumber, ""},
        {"e5", S::NotANumber, ""},
        {".e1", S::NotANumber, ""},
        {"1e", S::NotANumber, ""},
        {"1e+", S::NotANumber, ""},
        {"1.2.3", S::NotANumber, ""},
        {"1..2", S::NotANumber, ""},
        {"--1", S::NotANumber, ""},
        {"+-1", S::NotANumber, ""},
        {"1-", S::NotANumber, ""},
        {"1-e2", S::NotANumber, ""},
        {"1e5e5", S::NotANumber, ""},
        {"1e5.5", S::NotANumber, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.left(60).toStdString());
        JsonDecimal value(-1);
        EXPECT_EQ(JsonDecimal::parse(c.text, value), c.status);
        EXPECT_EQ(value.toString(), c.status == S::Ok ? c.plain : QStringLiteral("-1"));
    }
    EXPECT_EQ(JsonDecimal(std::numeric_limits<qint64>::min()).toString(), "-9223372036854775808");
}

TEST(JsonTest, Writer) {
    struct Case {
        QString text; // parsed, then written
        QString written;
    };
    const Case cases[] = {
        {"{ver: 12, servers: [{name: '사내메신저소켓', host: '127.0.0.1'}, {name: 'x', host: 'y'}]}",
         R"({"ver": 12,"servers": [{"name": "사내메신저소켓","host": "127.0.0.1"},{"name": "x","host": "y"}]})"},
        {"{'a': 'say \"hi\"'}", R"({"a": "say \"hi\""})"},
        {"{k:[1e3, -0.50, 0.0000000000000000000000000001]}",
         R"({"k": [1000,-0.5,0.0000000000000000000000000001]})"},
        {"[{}, [], '', true, false, null]", R"([{},[],"",true,false,null])"},
        // Written so that reading back gives the same text: backslashes, control characters and unpaired
        // surrogates are escaped; everything else is written as it is.
        {R"(['a\\b\\n'])", R"(["a\\b\\n"])"},
        {R"(['\u0001\t\r\n\b\f\u001f\u007f'])", "[\"\\u0001\\t\\r\\n\\b\\f\\u001f\x7f\"]"},
        {R"(['\ud800x\udc00', '\udc00\ud800', '\ud83d\ude00é'])", R"(["\ud800x\udc00","\udc00\ud800","😀é"])"},
        // An empty member value is written as nothing at all.
        {"{a:", R"({"a": })"},
        // Keys are written as they are, an unpaired surrogate too (in UTF-8 as toUtf8 writes it).
        {QStringView(u"{'\xD800k': 1, '😀 키': 2}").toString(),
         QStringView(u"{\"\xD800k\": 1,\"😀키\": 2}").toString()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        const std::optional<JsonValue> root = json::JsonParse(c.text);
        ASSERT_TRUE(root);
        const QString written = json::JsonToText(*root);
        EXPECT_EQ(written, c.written);
        EXPECT_EQ(json::JsonToUtf8(*root), written.toUtf8());
        if (!holdsEmpty(*root)) {
            EXPECT_EQ(json::JsonParse(written), root);
            EXPECT_EQ(json::JsonParseErrors(), QString());
        }
    }

    // The element counter of the format stops at 32,766, also deep inside a document.
    for (const qsizetype count : {32766, 32767, 100000}) {
        JsonArray elements;
        for (qsizetype i = 0; i < count; ++i)
            elements.append(JsonValue(JsonNull{}));
        JsonObject root;
        root.insert(QStringLiteral("a"), JsonValue(std::move(elements)));
        QString written;
        const int error = errorOf([&] { written = json::JsonToText(JsonValue(std::move(root))); });
        EXPECT_EQ(error, count <= 32766 ? 0 : VbErrors::Overflow) << count;
        EXPECT_EQ(written.size(), count <= 32766 ? 7 + count * 5 - 1 + 2 : 0) << count;
    }
}

TEST(JsonTest, AccessorsFailWithClassicNumbers) {
    const JsonValue root =
        *json::JsonParse(QStringLiteral("{ver: 12, name: 'x', on: true, list: [null], big: "
                                        "{k0:0,k1:1,k2:2,k3:3,k4:4,k5:5,k6:6,k7:7,k8:8,k9:9,"
                                        "k10:10,k11:11,k12:12,k13:13,k14:14}}"));
    EXPECT_EQ(root[QStringLiteral("ver")].asText(), QStringLiteral("12"));
    EXPECT_EQ(root[QStringLiteral("name")].asText(), QStringLiteral("x"));
    EXPECT_EQ(root[QStringLiteral("on")].asText(), QStringLiteral("True"));
    EXPECT_TRUE(root[QStringLiteral("Ver")].isEmpty());
    EXPECT_EQ(root[QStringLiteral("Ver")].asText(), QString());
    EXPECT_TRUE(root[QStringLiteral("list")].item(1).isNull());
    // Large objects look keys up through their index, copies included.
    const JsonValue big = root[QStringLiteral("big")];
    EXPECT_EQ(big[QStringLiteral("k14")].asText(), QStringLiteral("14"));
    EXPECT_EQ(big[QStringLiteral("k0")].asText(), QStringLiteral("0"));
    EXPECT_TRUE(big[QStringLiteral("k15")].isEmpty());
    EXPECT_EQ(big, root[QStringLiteral("big")]);

    const std::pair<const char*, std::function<void()>> calls[] = {
        {"item 0", [&] { root[QStringLiteral("list")].item(0); }},
        {"item 2", [&] { root[QStringLiteral("list")].item(2); }},
        {"item of object", [&] { root.item(1); }},
        {"member of array", [&] { root[QStringLiteral("list")][QStringLiteral("x")]; }},
        {"member of empty", [&] { root[QStringLiteral("none")][QStringLiteral("x")]; }},
        {"text of number", [&] { root[QStringLiteral("ver")].text(); }},
        {"asText of null", [&] { root[QStringLiteral("list")].item(1).asText(); }},
        {"asText of array", [&] { root[QStringLiteral("list")].asText(); }},
    };
    const int expected[] = {9, 9, 13, 13, 13, 13, 13, 13};
    for (size_t i = 0; i < std::size(calls); ++i)
        EXPECT_EQ(errorOf(calls[i].second), expected[i]) << calls[i].first;
}

// Runs canonical.py and returns its lines as name -> form.
std::map<QString, QString> pythonForms(const QStringList& arguments, const QByteArray& input = {}) {
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
                 QStringList{QStringLiteral(ZEPJOB_JSON_CORPUS "/canonical.py")} + arguments);
    python.write(input);
    python.closeWriteChannel();
    EXPECT_TRUE(python.waitForFinished(120000));
    EXPECT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
    std::map<QString, QString> forms;
    for (const QByteArray& line : python.readAllStandardOutput().split('\n')) {
        const qsizetype tab = line.indexOf('\t');
        if (tab > 0)
            forms[QString::fromUtf8(line.left(tab))] = QString::fromUtf8(line.mid(tab + 1));
    }
    return forms;
}

TEST(JsonTest, CorpusReadsAsPythonReadsIt) {
    const QDir dir(QStringLiteral(ZEPJOB_JSON_CORPUS "/corpus"));
    const QStringList names = dir.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name);
    ASSERT_GE(names.size(), 100);
    const std::map<QString, QString> expected = pythonForms({dir.path()});
    ASSERT_EQ(expected.size(), size_t(names.size()));

    QByteArray written;
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const std::optional<JsonValue> root = json::JsonParse(QString::fromUtf8(file.readAll()));
        ASSERT_TRUE(root);
        EXPECT_EQ(json::JsonParseErrors(), QString());
        EXPECT_EQ(canonical(*root), expected.at(name));

        const QString text = json::JsonToText(*root);
        EXPECT_FALSE(text.contains(u'\n'));
        EXPECT_EQ(json::JsonParse(text), root);
        EXPECT_EQ(json::JsonParseErrors(), QString());
        written += (name + u'\t' + text + u'\n').toUtf8();
    }
    // What we write is strict JSON with the same values.
    EXPECT_EQ(pythonForms({QStringLiteral("-")}, written), expected);
}

TEST(JsonTest, HostileInputsEndWithBoundedComplaints) {
    struct Case {
        const char* what;
        QString text;
        int depth; // of the first-element chain, -1 not checked
    };
    QString keys = QStringLiteral("{");
    for (int i = 0; i < 100000; ++i)
        keys += QStringLiteral("k%1:t ").arg(i);
    QString many = QStringLiteral("{");
    for (int i = 0; i < 3000; ++i)
        many += QStringLiteral("k%1:%1,").arg(i);
    const Case cases[] = {
        {"deep arrays", QString(200000, u'['), 512},
        {"deep objects", QStringLiteral("{a:").repeated(100000), 512},
        {"deep mixed", QStringLiteral("[{a:").repeated(50000), 512},
        {"misspelt literals in an object", keys, -1},
        {"long number", "[" + QString(1000000, u'7') + "]", -1},
        {"long string", "['" + QStringLiteral("\\u0041\\n").repeated(200000) + "']", -1},
        {"long comment", "/*" + QString(1000000, u'*') + "*/[]", -1},
        {"duplicate late in a large object", many + "k5:0}", -1},
    };
    Watchdog watchdog(std::chrono::seconds(120));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ++watchdog.current;
        const std::optional<JsonValue> root = json::JsonParse(c.text);
        ASSERT_TRUE(root);
        EXPECT_LE(json::JsonParseErrors().size(), ErrorTextLimit + c.text.size() + 100);
        if (c.depth >= 0) {
            EXPECT_EQ(depthOf(*root), c.depth);
        }
    }
    EXPECT_TRUE(json::JsonParseErrors().endsWith(
        "This key is already associated with an element of this collection: k5\r\n"));
    EXPECT_EQ(json::JsonParse(many + "k5:0}")->object().count(), 3000);
    EXPECT_EQ(json::JsonParse(cases[5].text)->item(1).text(), QStringLiteral("A\n").repeated(200000));
    EXPECT_TRUE(json::JsonParse(QString(600, u'['))->isArray());
    EXPECT_TRUE(json::JsonParseErrors().startsWith("Out of stack space: [[[[[[[[[[[[[[[[[[[[\r\n"));
}

TEST(JsonTest, RandomAndMutatedInputs) {
    const QDir dir(QStringLiteral(ZEPJOB_JSON_CORPUS "/corpus"));
    QStringList seeds;
    for (const QString& name : dir.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name)) {
        QFile file(dir.filePath(name));
        if (file.open(QIODevice::ReadOnly) && file.size() < 4096)
            seeds << QString::fromUtf8(file.readAll());
    }
    ASSERT_FALSE(seeds.isEmpty());
    const QStringList pieces = {"{",   "}",       "[",   "]",       ",",  ":",  "\"", "'",    "\\", "/",
                                "*",   "(",       ")",   "\n",      " ",  "t",  "f",  "n",    "tr", "fals",
                                "nul", "true",    "\\u", "\\ud83d", "e",  "E",  "+",  "-",    ".",  "0",
                                "9",   "1e99999", "한",  "😀",       "//", "/*", "*/", "\\\"", "a:"};

    std::mt19937 random(20240607);
    const auto below = [&](qsizetype n) { return qsizetype(random() % quint32(n)); };
    constexpr int Inputs = 4000;
    Watchdog watchdog(std::chrono::seconds(300));
    int roundTrips = 0;
    for (int input = 0; input < Inputs; ++input) {
        watchdog.current = input;
        QString text;
        if (input % 4 == 3) {
            // Token soup
            const qsizetype n = 1 + below(60);
            for (qsizetype k = 0; k < n; ++k)
                text += pieces[below(pieces.size())];
        } else {
            text = seeds[below(seeds.size())];
            const int edits = 1 + int(below(6));
            for (int e = 0; e < edits && !text.isEmpty(); ++e) {
                const qsizetype at = below(text.size());
                switch (below(5)) {
                case 0:
                    text.insert(at, pieces[below(pieces.size())]);
                    break;
                case 1:
                    text.remove(at, 1 + below(8));
                    break;
                case 2:
                    text[at] = pieces[below(pieces.size())].at(0);
                    break;
                case 3:
                    text.insert(at, text.mid(below(text.size()), below(40)));
                    break;
                default:
                    text.truncate(at);
                }
            }
        }
        SCOPED_TRACE(text.toStdString());
        const std::optional<JsonValue> root = json::JsonParse(text);
        ASSERT_LE(json::JsonParseErrors().size(), ErrorTextLimit + text.size() + 100);
        if (!root) {
            ASSERT_EQ(json::JsonParseErrors(), QStringLiteral("Invalid JSON"));
            continue;
        }
        // Whatever was read and holds no empty value is written back to a text that reads as the same.
        const QString written = json::JsonToText(*root);
        if (holdsEmpty(*root))
            continue;
        ++roundTrips;
        ASSERT_EQ(json::JsonParse(written), root) << written.toStdString();
        ASSERT_EQ(json::JsonParseErrors(), QString()) << written.toStdString();
    }
    EXPECT_GT(roundTrips, Inputs / 4);
}

} // namespace
