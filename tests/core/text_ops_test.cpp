// The text operations: search, replace and the two inserts match by match,
// with the match limit and the rule that written text is never searched
// again; then the two clean-up recipes on small pages worked out by hand.
#include "core/text_ops.h"
#include "reference.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace quillet::core {
namespace {

using testref::quote;

struct ProcessCase {
    std::string_view text;
    std::uint8_t operation;
    std::string_view pattern;
    std::string_view newText;
    bool isPattern;
    std::int64_t maxCount;
    std::string_view expected;
    bool matched;
    bool caseSensitive = true;
};

TEST(ProcessTextTest, Table) {
    const ProcessCase cases[] = {
        // Replace, and the match limit (any value <= 0 is no limit).
        {"aaa", OpReplaceText, "a", "b", false, -1, "bbb", true},
        {"aaa", OpReplaceText, "a", "b", false, 0, "bbb", true},
        {"aaa", OpReplaceText, "a", "b", false, -7, "bbb", true},
        {"aaa", OpReplaceText, "a", "b", false, 1, "baa", true},
        {"aaa", OpReplaceText, "a", "b", false, 2, "bba", true},
        {"aaa", OpReplaceText, "a", "b", false, 3, "bbb", true},
        {"aaa", OpReplaceText, "a", "b", false, 10, "bbb", true},
        {"abab", OpReplaceText, "b", "X", false, -1, "aXaX", true},
        {"<a href=1>x<a id=2>", OpReplaceText, "<a*>", "<a>", false, -1, "<a>x<a>", true},
        {"<b>x<b>y</b>", OpReplaceText, "<b>*</b>", "[{$1}]", true, -1, "<b>x[y]", true},
        {std::string_view("a\0b", 3), OpReplaceText, std::string_view("\0", 1), "-", false, -1, "a-b", true},
        // Only Search: the first match decides and the text never changes.
        {"a", OpOnlySearch, "a", "", false, -1, "a", true},
        {"a1a2", OpOnlySearch, "a", "X", false, -1, "a1a2", true},
        {"k=v;", OpOnlySearch, "*=*;", "[{$1}]", true, 1, "k=v;", true},
        {"xyz", OpOnlySearch, "a", "X", false, -1, "xyz", false},
        // Inserts.
        {"axb", OpInsertBefore, "x", "[", false, -1, "a[xb", true},
        {"axb", OpInsertAfter, "x", "[", false, -1, "ax[b", true},
        {"a-a-a", OpInsertBefore, "a", "<", false, 2, "<a-<a-a", true},
        {"a-a-a", OpInsertAfter, "a", ">", false, 2, "a>-a>-a", true},
        {"k=v;", OpInsertBefore, "*=*;", "[{$2}]", true, -1, "[v]k=v;", true},
        {"k=v;", OpInsertAfter, "*=*;", "[{$2}]", true, -1, "k=v;[v]", true},
        // Templates, and literal new text.
        {"href=a.htm href=b.htm", OpReplaceText, "href=*.htm", "href={$1}.html", true, -1, "href=a.html href=b.html",
         true},
        {"k=v;", OpReplaceText, "*=*;", "{$1}", false, -1, "{$1}", true},
        {"k=v;", OpReplaceText, "*=*;", "{$2}={$1};{$3}", true, -1, "v=k;{$3}", true},
        {"bab", OpReplaceText, "a*", "X", false, -1, "bX", true}, // a trailing star runs to the end
        {"bab", OpReplaceText, "a*", "[{$1}]", true, -1, "b[b]", true},
        {"abab", OpReplaceText, "*b", "[{$1}]", true, -1, "[a][a]", true},
        {"abc", OpReplaceText, "*", "[{$1}]", true, -1, "[abc]", true},
        {"abc", OpReplaceText, "**", "X", false, -1, "abc", false},
        // A middle piece that re-anchoring cannot find again keeps its place:
        // both captures are empty instead of copying text before the match.
        {"ababc", OpReplaceText, "ab*b*c", "[{$1}|{$2}]", true, -1, "ab[|]", true},
        // A capture that reads like a reference is inserted as it stands.
        {"{$2}=Z;", OpReplaceText, "*=*;", "{$1}->{$2}", true, -1, "{$2}->Z", true},
        // Written text is never searched again.
        {"aXa", OpReplaceText, "a", "aa", false, -1, "aaXaa", true},
        {"aabb", OpReplaceText, "ab", "a", false, -1, "aab", true},
        {"aa", OpInsertBefore, "a", "a", false, -1, "aaaa", true},
        {"ab", OpInsertAfter, "ab", "ab", false, -1, "abab", true},
        // Case.
        {"xABCx", OpReplaceText, "abc", "-", false, -1, "x-x", true, false},
        {"xABCx", OpReplaceText, "abc", "-", false, -1, "xABCx", false, true},
        {"x\xc9x", OpReplaceText, "\xe9", "-", false, -1, "x\xc9x", false, false},
        // Nothing to search, or nothing to search for.
        {"", OpReplaceText, "a", "b", false, -1, "", false},
        {"", OpOnlySearch, "a", "b", false, -1, "", false},
        {"", OpInsertBefore, "*", "b", false, -1, "", false},
        {"abc", OpReplaceText, "", "b", false, -1, "abc", false},
        {"abc", OpInsertAfter, "", "b", false, -1, "abc", false},
        // The recipes are true even when there is nothing to remove.
        {"plain text", OpRemoveScript, "", "", false, -1, "plain text", true},
        {"plain text", OpRemoveScript, "zzz", "yyy", true, 1, "plain text", true},
        {"plain text", OpStripWordHtml, "", "", false, -1, "plain text", true},
        {"plain text", OpStripWordHtml, "zzz", "yyy", true, 1, "plain text", true},
        {"", OpRemoveScript, "", "", false, -1, "", true},
        {"", OpStripWordHtml, "", "", false, -1, "", true},
        // The recipes ignore the case flag.
        {"a<SCRIPT>x</SCRIPT>b", OpRemoveScript, "", "", false, -1, "ab", true, true},
        {"a<O:P></O:P>b", OpStripWordHtml, "", "", false, -1, "ab", true, true},
    };
    for (const auto& c : cases) {
        std::string result = "left over";
        const bool matched = ProcessText(result, c.text, c.operation, c.pattern, c.caseSensitive, c.newText,
                                         c.isPattern, kTagOpen, kTagClose, c.maxCount);
        const std::string where = "ProcessText(" + quote(c.text) + ", op " + std::to_string(c.operation) + ", " +
                                  quote(c.pattern) + ", " + quote(c.newText) + (c.isPattern ? ", template" : "") +
                                  (c.caseSensitive ? "" : ", no case") + ", max " + std::to_string(c.maxCount) + ")";
        EXPECT_EQ(result, c.expected) << where;
        EXPECT_EQ(matched, c.matched) << where;
    }
}

// A sink that checks what keep() promises: every kept piece lies in the
// input, after the one before; the kept and appended bytes give the result.
class KeepCheckingSink : public TextSink {
public:
    explicit KeepCheckingSink(std::string_view input) : m_input(input) {}
    void clear() override { out.clear(); }
    void reserve(std::size_t) override {}
    void append(std::string_view bytes) override { out.append(bytes); }
    void keep(std::string_view piece) override {
        const bool inside = piece.empty() || (piece.data() >= m_input.data() + m_next &&
                                              piece.data() + piece.size() <= m_input.data() + m_input.size());
        ordered = ordered && inside;
        if (!piece.empty())
            m_next = static_cast<std::size_t>(piece.data() - m_input.data()) + piece.size();
        out.append(piece);
    }
    std::string out;
    bool ordered = true;

private:
    std::string_view m_input;
    std::size_t m_next = 0;
};

TEST(ProcessTextTest, KeptPiecesPointIntoTheInputInOrder) {
    const ProcessCase cases[] = {
        {"aXbXc", OpReplaceText, "X", "--", false, -1, "a--b--c", true},
        {"aXbXc", OpInsertBefore, "X", "<", false, 1, "a<XbXc", true},
        {"aXbXc", OpInsertAfter, "x", ">", false, -1, "aX>bX>c", true, false},
        {"<b>1</b><b>2</b>", OpReplaceText, "<b>*</b>", "[{$1}]", true, -1, "[1][2]", true},
        {"none", OpReplaceText, "X", "y", false, -1, "none", false},
    };
    for (const ProcessCase& c : cases) {
        const std::string input(c.text); // its own buffer, so that pointers tell
        KeepCheckingSink sink(input);
        const bool matched = ProcessText(sink, input, c.operation, c.pattern, c.caseSensitive, c.newText, c.isPattern,
                                         kTagOpen, kTagClose, c.maxCount);
        EXPECT_EQ(sink.out, c.expected) << quote(c.text) << " " << quote(c.pattern);
        EXPECT_EQ(matched, c.matched) << quote(c.text);
        EXPECT_TRUE(sink.ordered) << quote(c.text) << " " << quote(c.pattern);
    }
}

// ------------------------------------------------------------- RemoveScripts

struct RecipeCase {
    const char* name;
    std::string_view text;
    std::int64_t maxCount;
    std::string_view expected;
};

const std::string_view kScriptPage = "<html><head><title>T</title>\n"
                                     "<link rel=\"stylesheet\" href=\"a.css\">\n"
                                     "<script src=\"x.js\"></script>\n"
                                     "<SCRIPT type=\"text/javascript\">var a = 1 < 2;</SCRIPT>\n"
                                     "</head>\n"
                                     "<BODY onload=\"init()\" bgcolor=\"#fff\">\n"
                                     "<p>Hello</p>\n"
                                     "<script>alert(1)</script>\n"
                                     "<body id=second>\n"
                                     "</body></html>\n";

const std::string_view kScriptPageCleaned = "<html><head><title>T</title>\n"
                                            "\n"
                                            "\n"
                                            "\n"
                                            "</head>\n"
                                            "<body>\n"
                                            "<p>Hello</p>\n"
                                            "\n"
                                            "<body id=second>\n"
                                            "</body></html>\n";

TEST(RemoveScriptsTest, Table) {
    const RecipeCase cases[] = {
        {"page", kScriptPage, -1, kScriptPageCleaned},
        {"nothing to remove", "<p>x</p>", -1, "<p>x</p>"},
        {"empty", "", -1, ""},
        // The limit counts links and scripts separately; the body tag is
        // always stripped once.
        {"limit 1", "A<link a><link b><script>1</script><script>2</script>B", 1, "A<link b><script>2</script>B"},
        {"limit 2", "A<link a><link b><script>1</script><script>2</script>B", 2, "AB"},
        {"no limit", "A<link a><link b><script>1</script><script>2</script>B", 0, "AB"},
        {"first body only", "<body class=\"x\"><body id=y>", -1, "<body><body id=y>"},
        {"first body only, limit 5", "<Body a=1><body b=2>", 5, "<body><body b=2>"},
        // The shortest match before the first "/script>" starts at the
        // inner "<script", so the outer tag's start stays.
        {"script text inside a script", "A<script>document.write(\"<script>\")</script>B", -1,
         "A<script>document.write(\"B"},
    };
    for (const auto& c : cases) {
        std::string result = "left over";
        EXPECT_TRUE(RemoveScripts(result, c.text, c.maxCount)) << c.name;
        EXPECT_EQ(result, c.expected) << c.name << ": RemoveScripts(" << quote(c.text) << ", " << c.maxCount << ")";

        std::string viaProcess;
        EXPECT_TRUE(
            ProcessText(viaProcess, c.text, OpRemoveScript, "", true, "", false, kTagOpen, kTagClose, c.maxCount))
            << c.name;
        EXPECT_EQ(viaProcess, c.expected) << c.name << " through ProcessText";
    }
}

// ------------------------------------------------------------- StripWordHtml

const std::string_view kWordPage = "<html xmlns:o=\"urn:schemas-microsoft-com:office:office\"\n"
                                   "xmlns:w=\"urn:schemas-microsoft-com:office:word\">\n"
                                   "\n"
                                   "<head>\n"
                                   "<meta http-equiv=Content-Type content=\"text/html; charset=windows-1252\">\n"
                                   "<meta name=Generator content=\"Microsoft Word 11\">\n"
                                   "<title>Quarterly Report</title>\n"
                                   "<!--[if gte mso 9]><xml>\n"
                                   " <w:WordDocument>\n"
                                   "  <w:View>Print</w:View>\n"
                                   " </w:WordDocument>\n"
                                   "</xml><![endif]-->\n"
                                   "<style>\n"
                                   "<!--\n"
                                   "p.MsoNormal {margin:0cm;}\n"
                                   "-->\n"
                                   "</style>\n"
                                   "</head>\n"
                                   "\n"
                                   "<body lang=EN-US style='tab-interval:36.0pt'>\n"
                                   "\n"
                                   "<div class=Section1>\n"
                                   "\n"
                                   "<p class=MsoNormal>Hello<o:p></o:p></p>\n"
                                   "\n"
                                   "<p class=MsoNormal style='margin:0'><span lang=EN-US>World</span></p>\n"
                                   "\n"
                                   "<!-- a comment -->\n"
                                   "\n"
                                   "<p><w:Sdt>Field</w:Sdt></p>\n"
                                   "\n"
                                   "</div>\n"
                                   "\n"
                                   "</body>\n"
                                   "\n"
                                   "</html>\n";

const std::string_view kWordPageCleaned =
    "<html><head><meta http-equiv=Content-Type content=\"text/html; charset=windows-1252\">"
    "<title>Quarterly Report</title></head>\n"
    "\n"
    "<body  >\n"
    "\n"
    "<div >\n"
    "\n"
    "<p >Hello</p>\n"
    "\n"
    "<p ><span >World</span></p>\n"
    "\n"
    "\n"
    "\n"
    "<p>Field</p>\n"
    "\n"
    "</div>\n"
    "\n"
    "</body>\n"
    "\n"
    "</html>\n";

TEST(StripWordHtmlTest, Table) {
    const RecipeCase cases[] = {
        {"word page", kWordPage, -1, kWordPageCleaned},
        {"head without a content type is kept", "<html><head><title>T</title></head><body>x</body></html>", -1,
         "<html><head><title>T</title></head><body>x</body></html>"},
        {"head in upper case",
         "<HTML><HEAD><META HTTP-EQUIV=\"content-type\" CONTENT=\"text/html\"><TITLE>T {$8}</TITLE></HEAD>x", -1,
         "<html><head><meta HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html\"><title>T {$8}</title></head>x"},
        {"office paragraph marks", "Hello<o:p></o:p>", -1, "Hello"},
        {"word namespace tags", "<w:WordDocument><w:View>Print</w:View></w:WordDocument>", -1, "Print"},
        {"comments and declarations", "<!DOCTYPE html><p>x</p><!-- c -->", -1, "<p>x</p>"},
        {"language attribute, any case", "<span LANG=en-us>x</span>", -1, "<span >x</span>"},
        {"inline styles", "<p style='a:1'>x</p><i style='b'>y</i>", -1, "<p >x</p><i >y</i>"},
        {"class attributes", "<div class=Section1><p class=MsoNormal>x</p></div>", -1, "<div ><p >x</p></div>"},
        // Re-anchoring in the class pass leaves the first "class=", which the
        // last pass then reduces to the attributes after its value.
        {"class left by re-anchoring", "<p class=a title=\"class=b\">x</p>", -1, "<p  title=\">x</p>"},
        {"nothing to remove", "<p>x</p>", -1, "<p>x</p>"},
        {"empty", "", -1, ""},
    };
    for (const auto& c : cases) {
        std::string result = "left over";
        EXPECT_TRUE(StripWordHtml(result, c.text)) << c.name;
        EXPECT_EQ(result, c.expected) << c.name << ": StripWordHtml(" << quote(c.text) << ")";

        std::string viaProcess;
        EXPECT_TRUE(ProcessText(viaProcess, c.text, OpStripWordHtml, "", true, "", false, kTagOpen, kTagClose, 1))
            << c.name;
        EXPECT_EQ(viaProcess, c.expected) << c.name << " through ProcessText (the limit is not used)";
    }
}

} // namespace
} // namespace quillet::core
