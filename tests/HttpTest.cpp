// The libcurl adapter against a server on 127.0.0.1 that each test starts itself.
#include <gtest/gtest.h>

#include "platform/linux/LinuxHttp.h"
#include "support/TestHttpServer.h"

namespace vaultry {
namespace {

using platform::LinuxHttp;
using test::TestHttpServer;
using namespace std::chrono_literals;

std::string text(const platform::Http::Response& r) { return std::string(r.body.begin(), r.body.end()); }

LinuxHttp::Limits shortLimits() {
    LinuxHttp::Limits l;
    l.connectTimeout = 2s;
    l.totalTimeout = 3s;
    return l;
}

TEST(LinuxHttp, FetchesBodyAndStatusAndFollowsRedirectsWithAFreshBody) {
    TestHttpServer server({
        {"/list", {200, "the list"}},
        {"/moved", {302, "moved body", {"Location: /list"}}},
        {"/twice", {301, "first hop", {"Location: /moved"}}},
        {"/missing", {404, "<html>gone</html>"}},
    });
    LinuxHttp http(shortLimits());

    auto ok = http.get(server.url("/list"));
    ASSERT_TRUE(ok) << ok.error().message;
    EXPECT_EQ(ok->status, 200);
    EXPECT_EQ(text(*ok), "the list");

    auto redirected = http.get(server.url("/twice"));
    ASSERT_TRUE(redirected) << redirected.error().message;
    EXPECT_EQ(redirected->status, 200);
    EXPECT_EQ(text(*redirected), "the list");  // no trace of the redirect bodies

    // An error status is an answer, not a transfer failure: the caller judges it.
    auto missing = http.get(server.url("/missing"));
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->status, 404);
    EXPECT_EQ(text(*missing), "<html>gone</html>");
}

TEST(LinuxHttp, RefusesRedirectsToOtherProtocolsAndEndlessRedirects) {
    TestHttpServer server({
        {"/to-file", {302, "", {"Location: file:///etc/passwd"}}},
        {"/loop", {302, "", {"Location: /loop"}}},
    });
    LinuxHttp http(shortLimits());
    EXPECT_FALSE(http.get(server.url("/to-file")));
    EXPECT_FALSE(http.get(server.url("/loop")));
    EXPECT_LE(server.requests(), 2 + 11);
    EXPECT_FALSE(http.get("file:///etc/passwd"));
}

TEST(LinuxHttp, RefusesBodiesBeyondTheCapWithOrWithoutALength) {
    const std::string big(2 * 1024 * 1024, 'x');
    TestHttpServer server({
        {"/declared", {200, big}},
        {"/undeclared", {200, big, {}, false}},
        {"/at-cap", {200, std::string(1024 * 1024, 'y'), {}, false}},
    });
    LinuxHttp http(shortLimits());
    for (const char* path : {"/declared", "/undeclared"}) {
        auto r = http.get(server.url(path));
        ASSERT_FALSE(r) << path;
        EXPECT_NE(r.error().message.find("larger than 1048576 bytes"), std::string::npos) << path;
    }
    auto atCap = http.get(server.url("/at-cap"));
    ASSERT_TRUE(atCap) << atCap.error().message;
    EXPECT_EQ(atCap->body.size(), 1024u * 1024u);
}

TEST(LinuxHttp, FailsOnRefusedConnectionsAndSilentServers) {
    EXPECT_FALSE(LinuxHttp(shortLimits()).get(TestHttpServer::refusedUrl()));

    TestHttpServer server({{"/slow", {200, "late", {}, true, true}}});
    LinuxHttp::Limits limits;
    limits.connectTimeout = 300ms;
    limits.totalTimeout = 300ms;
    auto r = LinuxHttp(limits).get(server.url("/slow"));
    ASSERT_FALSE(r);
    EXPECT_NE(r.error().message.find("timed out"), std::string::npos) << r.error().message;
}

}  // namespace
}  // namespace vaultry
