// The command line of vesklink-cli: typed arguments, script lines and options.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>

#include "args.h"
#include "common/utf8.h"

using namespace vkcli;

namespace {

// Files for @FILE arguments, served from memory.
std::map<std::string, std::string>& FakeFiles() {
    static std::map<std::string, std::string> files;
    return files;
}

bool FakeReader(const std::string& path, std::string& content, std::string& error) {
    const auto it = FakeFiles().find(path);
    if (it == FakeFiles().end()) {
        error = "cannot open " + path;
        return false;
    }
    content = it->second;
    return true;
}

std::optional<Argument> Arg(const std::string& token, std::string* error = nullptr, const std::string& base = {}) {
    std::string why;
    auto arg = ParseArgument(token, why, base, FakeReader);
    if (error) *error = why;
    return arg;
}

std::optional<Options> Opts(std::vector<const char*> args, std::string* error = nullptr) {
    args.insert(args.begin(), "vesklink-cli");
    std::string why;
    auto options = ParseOptions(static_cast<int>(args.size()), args.data(), why);
    if (error) *error = why;
    return options;
}

std::vector<std::string> Split(const std::string& line) {
    std::string error;
    auto tokens = SplitLine(line, error);
    EXPECT_TRUE(tokens.has_value()) << line << ": " << error;
    return tokens.value_or(std::vector<std::string>{});
}

}  // namespace

TEST(CliArguments, TypedValues) {
    auto text = Arg("s:Привет, мир");
    ASSERT_TRUE(text);
    EXPECT_EQ(text->kind, Argument::Kind::Text);
    EXPECT_EQ(text->text, "Привет, мир");
    auto empty = Arg("s:");
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->text, "");
    auto colon = Arg("s:i:5");  // only the first prefix counts
    ASSERT_TRUE(colon);
    EXPECT_EQ(colon->text, "i:5");

    auto out = Arg("out");
    ASSERT_TRUE(out);
    EXPECT_EQ(out->kind, Argument::Kind::Out);

    auto yes = Arg("b:true"), no = Arg("b:false");
    ASSERT_TRUE(yes && no);
    EXPECT_EQ(yes->kind, Argument::Kind::Boolean);
    EXPECT_TRUE(yes->boolean);
    EXPECT_FALSE(no->boolean);
    EXPECT_FALSE(Arg("b:True"));
    EXPECT_FALSE(Arg("b:1"));
    EXPECT_FALSE(Arg("b:"));
}

TEST(CliArguments, IntegersAreStrict32Bit) {
    EXPECT_EQ(Arg("i:3003")->integer, 3003);
    EXPECT_EQ(Arg("i:-2147483648")->integer, INT32_MIN);
    EXPECT_EQ(Arg("i:2147483647")->integer, INT32_MAX);
    EXPECT_EQ(Arg("i:+7")->integer, 7);
    EXPECT_EQ(Arg("i:7")->kind, Argument::Kind::Integer);
    for (const char* bad : {"i:2147483648", "i:-2147483649", "i:", "i:12x", "i: 12", "i:1.5", "i:+-1", "i:0x10"})
        EXPECT_FALSE(Arg(bad)) << bad;
}

TEST(CliArguments, DoublesUseADotWhateverTheLocale) {
    EXPECT_EQ(Arg("d:12.5")->number, 12.5);
    EXPECT_EQ(Arg("d:-0.01")->number, -0.01);
    EXPECT_EQ(Arg("d:1e3")->number, 1000.0);
    EXPECT_EQ(Arg("d:100")->kind, Argument::Kind::Double);
    for (const char* bad : {"d:12,5", "d:", "d:nan", "d:inf", "d:-inf", "d:1e999", "d:12.5 ", "d:abc"})
        EXPECT_FALSE(Arg(bad)) << bad;
}

TEST(CliArguments, UnknownFormsAreRefusedWithAHint) {
    std::string error;
    EXPECT_FALSE(Arg("Port", &error));
    EXPECT_NE(error.find("s:TEXT"), std::string::npos) << error;
    EXPECT_FALSE(Arg("x:1", &error));
    EXPECT_FALSE(Arg("OUT", &error));
    EXPECT_FALSE(Arg("", &error));
}

TEST(CliArguments, TextMustBeCleanUtf8) {
    std::string error;
    // Overlong '/', a lone continuation byte, a surrogate, beyond U+10FFFF, Latin-1 before a line end.
    for (const char* bad : {"s:\xC0\xAF", "s:a\x80z", "s:\xED\xA0\x80", "s:\xF4\x90\x80\x80", "s:caf\xE9\n"}) {
        EXPECT_FALSE(Arg(bad, &error)) << bad;
        EXPECT_NE(error.find("is not valid UTF-8 at offset "), std::string::npos) << error;
        EXPECT_EQ(error.find("cut short"), std::string::npos) << error;
    }
    EXPECT_FALSE(Arg("s:ab\xE2\x82", &error));
    EXPECT_NE(error.find("is not valid UTF-8 at offset 2 (sequence cut short)"), std::string::npos) << error;
    EXPECT_TRUE(Arg("s:\xF0\x9F\x98\x80"));  // outside the basic plane
    EXPECT_TRUE(Arg("s:\xE2\x82\xAC"));      // euro sign
}

TEST(Utf8, OneCodePointWithItsLength) {
    using vesklink::common::Utf8Status;
    const struct {
        std::string bytes;
        Utf8Status status;
        char32_t value;
        size_t length;
    } cases[] = {
        {"A", Utf8Status::Ok, U'A', 1},
        {std::string("\0", 1), Utf8Status::Ok, 0, 1},
        {"\xD0\x96z", Utf8Status::Ok, U'Ж', 2},
        {"\xEF\xBF\xBF", Utf8Status::Ok, 0xFFFF, 3},
        {"\xF4\x8F\xBF\xBF", Utf8Status::Ok, 0x10FFFF, 4},
        {"\xE0\xA0", Utf8Status::CutShort, 0, 1},
        {"\xF0\x9F\x98", Utf8Status::CutShort, 0, 1},
        {"", Utf8Status::CutShort, 0, 0},
        {"\xC1\xBF", Utf8Status::Invalid, 0, 1},      // overlong two bytes
        {"\xE0\x9F", Utf8Status::Invalid, 0, 1},      // overlong three bytes, known at once
        {"\xED\xBF\xBF", Utf8Status::Invalid, 0, 1}, // surrogate
        {"\xF4\x90", Utf8Status::Invalid, 0, 1},      // beyond U+10FFFF
        {"\xF5\x80\x80\x80", Utf8Status::Invalid, 0, 1},
        {"\xBF", Utf8Status::Invalid, 0, 1},
        {"\xE2\x82z", Utf8Status::Invalid, 0, 1},     // the third byte does not continue it
    };
    for (const auto& c : cases) {
        const auto decoded = vesklink::common::DecodeUtf8(c.bytes);
        EXPECT_EQ(decoded.status, c.status) << testing::PrintToString(c.bytes);
        EXPECT_EQ(decoded.value, c.value) << testing::PrintToString(c.bytes);
        EXPECT_EQ(decoded.length, c.length) << testing::PrintToString(c.bytes);
    }
}

TEST(CliArguments, FileArguments) {
    FakeFiles() = {
        {"receipt.xml", "<?xml version=\"1.0\"?>\n<CheckPackage/>\n"},
        {"bom.xml", "\xEF\xBB\xBF<Doc/>"},
        {"nul.txt", std::string("ab\0cd", 5)},
        {"latin1.txt", "caf\xE9"},
        {"scripts/day/sale.xml", "<Sale/>"},
        {"/abs/sale.xml", "<Abs/>"},
    };
    auto receipt = Arg("@receipt.xml");
    ASSERT_TRUE(receipt);
    EXPECT_EQ(receipt->kind, Argument::Kind::Text);
    EXPECT_EQ(receipt->text, "<?xml version=\"1.0\"?>\n<CheckPackage/>\n");  // unchanged, line ends kept
    EXPECT_EQ(Arg("@bom.xml")->text, "<Doc/>");

    std::string error;
    EXPECT_FALSE(Arg("@nul.txt", &error));  // the host string would end at the NUL
    EXPECT_NE(error.find("NUL"), std::string::npos) << error;
    EXPECT_FALSE(Arg("@latin1.txt", &error));
    EXPECT_NE(error.find("UTF-8"), std::string::npos) << error;
    EXPECT_FALSE(Arg("@missing.xml", &error));
    EXPECT_NE(error.find("missing.xml"), std::string::npos) << error;
    EXPECT_FALSE(Arg("@", &error));

    // In a script, relative names are taken from the script's folder; absolute ones stay.
    EXPECT_EQ(Arg("@sale.xml", nullptr, "scripts/day")->text, "<Sale/>");
    EXPECT_EQ(Arg("@/abs/sale.xml", nullptr, "scripts/day")->text, "<Abs/>");
}

TEST(CliArguments, RealFileIsReadAsBytes) {
    const std::string path = testing::TempDir() + "vesklink-cli-arg.txt";
    {
        std::ofstream out(path, std::ios::binary);
        out << "Строка 1\r\nСтрока 2";
    }
    std::string error;
    auto arg = ParseArgument("@" + path, error);
    std::remove(path.c_str());
    ASSERT_TRUE(arg) << error;
    EXPECT_EQ(arg->text, "Строка 1\r\nСтрока 2");
}

TEST(CliLines, Splitting) {
    EXPECT_EQ(Split("  SetParameter   s:Port\ts:3  "), (std::vector<std::string>{"SetParameter", "s:Port", "s:3"}));
    EXPECT_EQ(Split("PrintTextDocument out \"s:two words\""),
              (std::vector<std::string>{"PrintTextDocument", "out", "s:two words"}));
    EXPECT_EQ(Split("X s:\"a \\\"b\\\" c\""), (std::vector<std::string>{"X", "s:a \"b\" c"}));
    EXPECT_EQ(Split("X 's:a \\ b'"), (std::vector<std::string>{"X", "s:a \\ b"}));  // no escapes in ''
    EXPECT_EQ(Split("X s:a\\ b"), (std::vector<std::string>{"X", "s:a b"}));
    EXPECT_EQ(Split("X s:\"\""), (std::vector<std::string>{"X", "s:"}));
    EXPECT_EQ(Split("X \"\""), (std::vector<std::string>{"X", ""}));
    // A comment starts only at the start of a token.
    EXPECT_EQ(Split("X s:a#b # the rest"), (std::vector<std::string>{"X", "s:a#b"}));
    EXPECT_EQ(Split("X \"s:#\""), (std::vector<std::string>{"X", "s:#"}));
    EXPECT_TRUE(Split("# only a comment").empty());
    EXPECT_TRUE(Split("   ").empty());
    EXPECT_TRUE(Split("").empty());
    EXPECT_EQ(Split("GetLineLength\r"), (std::vector<std::string>{"GetLineLength"}));

    std::string error;
    EXPECT_FALSE(SplitLine("X \"s:open", error));
    EXPECT_NE(error.find("quote"), std::string::npos);
    EXPECT_FALSE(SplitLine("X 's:open", error));
    EXPECT_FALSE(SplitLine("X s:a\\", error));
}

TEST(CliLines, ScriptKeepsLineNumbersAndReportsEveryBadLine) {
    FakeFiles() = {{"day/text.xml", "<Document/>"}};
    const std::string content =
        "\xEF\xBB\xBF# a day at the till\r\n"
        "GetInterfaceRevision\r\n"
        "\r\n"
        "SetParameter s:Port s:3   # COM3\r\n"
        "PrintTextDocument out @text.xml\r\n"
        "SetParameter s:Speed i:x\n"
        "GetLineLength \"out\n"
        "GetDescription out";  // no line end at the end
    const Script script = ParseScript(content, "day.txt", "day", FakeReader);
    ASSERT_EQ(script.calls.size(), 4u);
    EXPECT_EQ(script.calls[0].method, "GetInterfaceRevision");
    EXPECT_EQ(script.calls[0].lineNumber, 2);
    EXPECT_EQ(script.calls[1].lineNumber, 4);
    ASSERT_EQ(script.calls[1].arguments.size(), 2u);
    EXPECT_EQ(script.calls[1].arguments[1].text, "3");
    EXPECT_EQ(script.calls[1].text, "SetParameter s:Port s:3");
    EXPECT_EQ(script.calls[2].arguments[1].text, "<Document/>");
    EXPECT_EQ(script.calls[3].method, "GetDescription");
    EXPECT_EQ(script.calls[3].lineNumber, 8);
    ASSERT_EQ(script.errors.size(), 2u);
    EXPECT_EQ(script.errors[0].line, 6);
    EXPECT_EQ(script.errors[0].text.rfind("day.txt:6: argument 'i:x'", 0), 0u) << script.errors[0].text;
    EXPECT_EQ(script.errors[1].line, 7);
    EXPECT_EQ(script.errors[1].text, "day.txt:7: unterminated \" quote");
}

TEST(CliOptions, GlobalOptionsThenCommand) {
    auto options = Opts({"--lib", "/opt/vesklink_64.so", "--port=3", "--speed", "19200", "call", "GetLineLength"});
    ASSERT_TRUE(options);
    EXPECT_EQ(options->library, "/opt/vesklink_64.so");
    EXPECT_EQ(options->port, 3);
    EXPECT_EQ(options->speed, 19200);
    EXPECT_EQ(options->command, "call");
    EXPECT_EQ(options->arguments, (std::vector<std::string>{"GetLineLength"}));

    // After the command word everything belongs to the command, option-like words included.
    options = Opts({"run", "--keep-going", "day.txt", "--port", "4"});
    ASSERT_TRUE(options);
    EXPECT_FALSE(options->port);
    EXPECT_EQ(options->arguments.size(), 4u);

    options = Opts({"methods"});
    ASSERT_TRUE(options);
    EXPECT_TRUE(options->library.empty());
    EXPECT_FALSE(options->port || options->speed);

    options = Opts({"--help"});
    ASSERT_TRUE(options);
    EXPECT_TRUE(options->help);
}

TEST(CliOptions, BadOptionsAreUsageErrors) {
    std::string error;
    EXPECT_FALSE(Opts({}, &error));
    EXPECT_NE(error.find("command"), std::string::npos);
    EXPECT_FALSE(Opts({"--port"}, &error));
    EXPECT_NE(error.find("needs a value"), std::string::npos);
    for (const char* bad : {"--port=0", "--port=-1", "--port=COM3", "--speed=9600.5", "--speed=", "--port=99999999999"}) {
        EXPECT_FALSE(Opts({bad, "methods"}, &error)) << bad;
        EXPECT_NE(error.find("positive whole number"), std::string::npos) << error;
    }
    EXPECT_FALSE(Opts({"--lib=", "methods"}, &error));
    EXPECT_FALSE(Opts({"--verbose", "methods"}, &error));
    EXPECT_NE(error.find("--verbose"), std::string::npos);
    EXPECT_FALSE(Opts({"--library=x", "methods"}, &error));  // no prefix matching
}

TEST(CliOptions, RunOptions) {
    std::string error;
    auto run = ParseRunOptions({"--keep-going", "day.txt"}, error);
    ASSERT_TRUE(run);
    EXPECT_TRUE(run->keepGoing);
    EXPECT_EQ(run->file, "day.txt");
    run = ParseRunOptions({"-"}, error);
    ASSERT_TRUE(run);
    EXPECT_EQ(run->file, "-");
    EXPECT_FALSE(run->keepGoing);
    EXPECT_FALSE(ParseRunOptions({}, error));
    EXPECT_FALSE(ParseRunOptions({"a.txt", "b.txt"}, error));
    EXPECT_FALSE(ParseRunOptions({"--keep", "a.txt"}, error));
}

TEST(CliCall, MethodAndArguments) {
    std::string error;
    auto call = ParseCall({"УстановитьПараметр", "s:Скорость", "s:19200"}, error);
    ASSERT_TRUE(call) << error;
    EXPECT_EQ(call->method, "УстановитьПараметр");
    EXPECT_EQ(call->arguments.size(), 2u);
    EXPECT_EQ(call->text, "УстановитьПараметр s:Скорость s:19200");
    EXPECT_FALSE(ParseCall({}, error));
    EXPECT_FALSE(ParseCall({"GetLineLength", "40"}, error));
    EXPECT_NE(error.find("'40'"), std::string::npos) << error;
}
