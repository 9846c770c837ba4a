// The viewer's Qt-free parts: sitemaps, entities, paths inside the file, words.
#include <gtest/gtest.h>

#include "ChmFile.h"
#include "Sitemap.h"
#include "TopicIndex.h"

using namespace hhc;

TEST(Sitemap, NestingTargetsAndEntities) {
  const char* hhc = R"(<HTML><BODY>
<OBJECT type="text/site properties"><param name="Window Styles" value="0x800025"></OBJECT>
<UL>
  <LI> <OBJECT type="text/sitemap"><param name="Name" value="Top &amp; more"><param name="Local" value="a.htm"></OBJECT>
  <UL>
    <LI> <object TYPE='text/sitemap'><PARAM NAME=name VALUE=Child><param name="Local" value="sub/b.htm"></object>
    <UL><LI><OBJECT type="text/sitemap"><param name="Name" value="Grandchild"></OBJECT></UL>
  </UL>
  <!-- <LI><OBJECT type="text/sitemap"><param name="Name" value="commented"></OBJECT> -->
  <LI> <OBJECT type="text/sitemap"><param name="Name" value="Keyword">
       <param name="Name" value="First title"><param name="Local" value="x.htm">
       <param name="Name" value="Second title"><param name="Local" value="y.htm"></OBJECT>
</UL></BODY></HTML>)";
  const auto e = parseSitemap(hhc);
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[0].name, "Top & more");
  EXPECT_EQ(e[0].local, "a.htm");
  ASSERT_EQ(e[0].children.size(), 1u);
  EXPECT_EQ(e[0].children[0].name, "Child");
  EXPECT_EQ(e[0].children[0].local, "sub/b.htm");
  ASSERT_EQ(e[0].children[0].children.size(), 1u);
  EXPECT_EQ(e[0].children[0].children[0].name, "Grandchild");
  EXPECT_TRUE(e[0].children[0].children[0].local.empty());
  EXPECT_EQ(e[1].name, "Keyword");
  ASSERT_EQ(e[1].targets.size(), 2u);
  EXPECT_EQ(e[1].targets[0], (std::pair<std::string, std::string>{"First title", "x.htm"}));
  EXPECT_EQ(e[1].targets[1], (std::pair<std::string, std::string>{"Second title", "y.htm"}));
}

TEST(Sitemap, BrokenInputStaysBounded) {
  EXPECT_TRUE(parseSitemap("").empty());
  EXPECT_TRUE(parseSitemap("<UL><LI><OBJECT type=\"text/sitemap\"><param name=\"Name\"").empty());
  EXPECT_TRUE(parseSitemap("</UL></UL><OBJECT type=\"text/other\"><param name=\"Name\" value=\"x\">"
                           "</OBJECT>")
                  .empty());
  std::string deep = "<UL>";
  for (int i = 0; i < 200; ++i)
    deep += "<LI><OBJECT type=\"text/sitemap\"><param name=\"Name\" value=\"n\"></OBJECT><UL>";
  auto e = parseSitemap(deep);
  size_t depth = 0;
  for (const auto* list = &e; !list->empty(); list = &list->back().children) ++depth;
  EXPECT_EQ(depth, 32u);
}

TEST(Entities, NamedNumericAndBroken) {
  struct Row {
    const char* in;
    const char* out;
  } rows[] = {{"a &amp; b", "a & b"},         {"&lt;p&gt;", "<p>"},
              {"&#65;&#x42;", "AB"},          {"&micro;W", "\xC2\xB5W"},
              {"&nosuch; &", "&nosuch; &"},   {"&#xD800;", "\xEF\xBF\xBD"},
              {"&#99999999;", "&#99999999;"}, {"&amp", "&amp"}};
  for (const auto& r : rows) EXPECT_EQ(decodeEntities(r.in), r.out) << r.in;
}

TEST(PathsInside, ResolveAgainstTheFile) {
  EXPECT_EQ(resolveInside("/sub/gamma.htm", "../alpha.htm"), "/alpha.htm");
  EXPECT_EQ(resolveInside("/sub/gamma.htm", "pic.png"), "/sub/pic.png");
  EXPECT_EQ(resolveInside("/a.htm", "/b/./c.htm"), "/b/c.htm");
  EXPECT_EQ(resolveInside("/a.htm", "../../../etc/passwd"), "/etc/passwd");
  EXPECT_EQ(resolveInside("/ZRQHelp.hhc", "index.htm"), "/index.htm");
  EXPECT_EQ(resolveInside("/", ""), "/");
}

TEST(Words, PlainTextAndTitle) {
  const char* html =
      "<html><head><title> The &amp; Title </title><style>p{}</style></head><body>"
      "<p>Reso<b>nator</b><br>next&nbsp;line&mdash;dash</p><script>hidden()</script>"
      "<!-- hidden too --><td>cell</td><td>two</td>dB&micro;</body></html>";
  EXPECT_EQ(TopicIndex::titleOf(html), "The & Title");
  const auto w = TopicIndex::words(TopicIndex::plainText(html));
  EXPECT_EQ(w, (std::vector<std::string>{"resonator", "next", "line", "dash", "cell", "two",
                                         "db\xC2\xB5"}));
}

TEST(Words, SearchIntersectsWholeWords) {
  TopicIndex idx;
  idx.add("/a.htm", "<title>A</title><p>zero offset</p>");
  idx.add("/b.htm", "<title>B</title><p>zeroing the offset twice: offset</p>");
  idx.add("/c.htm", "<title>C</title><p>ZERO</p>");
  EXPECT_EQ(idx.search("zero"), (std::vector<size_t>{0, 2}));
  EXPECT_EQ(idx.search("offset"), (std::vector<size_t>{1, 0}));  // twice comes first
  EXPECT_EQ(idx.search("Zero OFFSET"), (std::vector<size_t>{0}));
  EXPECT_TRUE(idx.search("zer").empty());
  EXPECT_TRUE(idx.search("").empty());
  EXPECT_EQ(idx.pages()[1].title, "B");
  // A page whose title holds the words leads.
  idx.add("/d.htm", "<title>Offset</title><p>see elsewhere</p>");
  EXPECT_EQ(idx.search("offset"), (std::vector<size_t>{3, 1, 0}));
}

TEST(ChmFileOpen, MissingAndForeignFiles) {
  ChmFile f;
  std::string error;
  EXPECT_FALSE(f.open("/nonexistent/x.chm", &error));
  EXPECT_NE(error.find("does not exist"), std::string::npos);
  EXPECT_FALSE(f.open("/", &error));
  EXPECT_NE(error.find("not a file"), std::string::npos);
  EXPECT_FALSE(f.isOpen());
  EXPECT_FALSE(f.read("/index.htm").has_value());
}

// A bit-flipped file decompresses to binary: refused before any layout.
TEST(PageProblem, BinaryAndOversizedPagesAreRefused) {
  EXPECT_EQ(pageProblem("<html><body>\tText\r\n</body></html>"), "");
  std::string garbage(4096, '\0');
  unsigned x = 12345;
  for (char& c : garbage) c = static_cast<char>((x = x * 1103515245 + 12345) >> 16);
  EXPECT_EQ(pageProblem(garbage), "it is not text");
  EXPECT_EQ(pageProblem(std::string(kMaxPageBytes + 1, 'a')), "it is larger than 1 MB");
}
