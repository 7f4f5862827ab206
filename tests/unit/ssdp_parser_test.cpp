// The SSDP parser over hand-built messages: each case changes one header of the
// reference reply (tests/fixtures/ssdp/reply_reference), so a failure names the
// rule that broke. Whole messages of their own are fixtures in that folder.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ssdp_test_support.h"

using ssdptest::Parse;
using ssdptest::Parsed;

namespace
{
const char kLocation[] = "LOCATION: http://192.168.1.20:5000/desc.xml";
const char kServer[] = "SERVER: VEXA/2.1, UPnP/1.0, V1/nas1/N2/r5";
const char kUsn[] = "USN: uuid:abcd::urn:schemas-upnp-org:device:HomeNasDevice:1";
const char kSt[] = "ST: urn:schemas-upnp-org:device:HomeNasDevice:1";

// Joins the lines with the line end and closes the header block with an empty line.
std::string Message(const std::vector<std::string>& lines, const std::string& eol = "\r\n")
{
    std::string out;
    for (const std::string& line : lines)
        out += line + eol;
    return out + eol;
}

std::string Reply(const std::string& location = kLocation, const std::string& server = kServer,
                  const std::string& usn = kUsn)
{
    std::vector<std::string> lines = {"HTTP/1.1 200 OK", "CACHE-CONTROL: max-age=1800"};
    if (!location.empty())
        lines.push_back(location);
    if (!server.empty())
        lines.push_back(server);
    lines.push_back(kSt);
    if (!usn.empty())
        lines.push_back(usn);
    return Message(lines);
}

std::string Notify(const std::string& nts, const std::string& nt = "NT: upnp:rootdevice",
                   const std::string& usn = "USN: uuid:abcd::upnp:rootdevice")
{
    std::vector<std::string> lines = {"NOTIFY * HTTP/1.1", "HOST: 239.143.255.250:1900", kLocation, nt};
    if (!nts.empty())
        lines.push_back(nts);
    lines.push_back(kServer);
    lines.push_back(usn);
    return Message(lines);
}

void ExpectServerFields(const Parsed& p, const char* factory, const char* host, const char* product,
                        const char* extra)
{
    EXPECT_STREQ(p.info.factory, factory);
    EXPECT_STREQ(p.info.host, host);
    EXPECT_STREQ(p.info.product, product);
    EXPECT_STREQ(p.info.extra, extra);
}
} // namespace

TEST(SsdpParse, LocationHost)
{
    // The URL ends the host at the path or the line end (the fixtures hold the
    // other cases). Not at the end of the line when the URL has no path either.
    Parsed bare = Parse(Reply("LOCATION: http://198.18.0.6"));
    ASSERT_EQ(bare.status, SsdpParseStatus::Accepted);
    EXPECT_STREQ(bare.info.ip, "198.18.0.6");
    Parsed bareLf = Parse(Message({"HTTP/1.1 200 OK", "LOCATION: http://198.18.0.6", kServer, kUsn}, "\n"));
    ASSERT_EQ(bareLf.status, SsdpParseStatus::Accepted);
    EXPECT_STREQ(bareLf.info.ip, "198.18.0.6");

    // Blanks before the line end are not part of the host.
    Parsed blanks = Parse(Reply("LOCATION: http://198.18.0.7 \t "));
    ASSERT_EQ(blanks.status, SsdpParseStatus::Accepted);
    EXPECT_STREQ(blanks.info.ip, "198.18.0.7");

    // A URL without "//" is no URL, even if a later header has one.
    EXPECT_EQ(Parse(Reply("LOCATION: desc.xml", kServer, "USN: uuid:abcd::http://x")).status,
              SsdpParseStatus::BadLocation);
    EXPECT_EQ(Parse(Reply("LOCATION:")).status, SsdpParseStatus::BadLocation);
}

TEST(SsdpParse, AnnouncementKinds)
{
    for (const char* nts : {"NTS: ssdp:byebye", "NTS:ssdp:byebye", "NTS:    ssdp:byebye", "NTS:\tssdp:byebye",
                            "NTS: \t \tssdp:byebye"})
    {
        Parsed byebye = Parse(Notify(nts));
        ASSERT_EQ(byebye.status, SsdpParseStatus::Accepted) << nts;
        EXPECT_EQ(byebye.info.type, 4) << nts;
    }

    Parsed emptyNts = Parse(Notify("NTS:"));
    ASSERT_EQ(emptyNts.status, SsdpParseStatus::Accepted);
    EXPECT_EQ(emptyNts.info.type, 0);
}

TEST(SsdpParse, AnnouncementsThatAreDropped)
{
    // Only root-device announcements count, alive and byebye alike.
    const std::string deviceNt = "NT: urn:schemas-upnp-org:device:HomeNasDevice:1";
    const std::string deviceUsn = "USN: uuid:abcd::urn:schemas-upnp-org:device:HomeNasDevice:1";
    EXPECT_EQ(Parse(Notify("NTS: ssdp:alive", deviceNt, deviceUsn)).status, SsdpParseStatus::NotRootDevice);
    EXPECT_EQ(Parse(Notify("NTS: ssdp:byebye", deviceNt, deviceUsn)).status, SsdpParseStatus::NotRootDevice);

    EXPECT_EQ(Parse(Notify("")).status, SsdpParseStatus::NoNts);

    // Another host's search that names our OS is neither reply nor announcement.
    std::string msearch =
        Message({"M-SEARCH * HTTP/1.1", "HOST: 239.143.255.250:1900", "MAN: \"ssdp:discover\"",
                 "ST: upnp:rootdevice", "USER-AGENT: VEXA/2.1 UPnP/1.1", "USN: uuid:abcd::upnp:rootdevice"});
    EXPECT_EQ(Parse(msearch).status, SsdpParseStatus::UnknownStart);
    // The start must be at the very beginning, not after a blank.
    EXPECT_EQ(Parse(" " + Reply()).status, SsdpParseStatus::UnknownStart);
}

TEST(SsdpParse, ServerDescriptionItems)
{
    // The reference reply's record before the SERVER line adds to it.
    const auto record = [] { return testsupport::MakeRecord().Id("abcd").Ip("192.168.1.20"); };
    const struct
    {
        const char* server;
        const char* usn;
        deviceinfo expected;
    } rows[] = {
        {"SERVER: VEXA/2.1, UPnP/1.0, V1/nas1", kUsn, record().OsVersion("2.1").Factory("V1")},
        {"SERVER: VEXA/2.1, UPnP/1.0, V1/nas1/N2", kUsn,
         record().OsVersion("2.1").Factory("V1").Host("nas1").Product("N2")},
        {"SERVER: VEXA/2.1, UPnP/1.0, V1/nas1/N2/r5/x", kUsn,
         record().OsVersion("2.1").Factory("V1").Host("nas1").Product("N2").Extra("r5/x")},
        {"SERVER: VEXA/2.1, UPnP/1.0, plainserver", kUsn, record().OsVersion("2.1")},
        // A missing SERVER costs its fields, never the report.
        {"", "USN: uuid:abcd::VEXA", record()},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.server);
        Parsed p = Parse(Reply(kLocation, row.server, row.usn));
        ASSERT_EQ(p.status, SsdpParseStatus::Accepted);
        for (const testsupport::TextField& field : testsupport::kTextFields)
            EXPECT_STREQ(p.info.*field.member, row.expected.*field.member) << field.name;
        EXPECT_EQ(p.info.type, row.expected.type);
    }
}

// Regression: the SERVER fields were once searched for across the whole message,
// so a SERVER line without commas took its version and vendor from DATE: below.
TEST(SsdpParse, ServerFieldsComeFromTheServerLineOnly)
{
    std::string msg =
        Message({"HTTP/1.1 200 OK", kLocation, "SERVER: VEXA/3.0", "DATE: Sat, 07 Mar, X/Y/Z", kUsn});
    Parsed p = Parse(msg);
    ASSERT_EQ(p.status, SsdpParseStatus::Accepted);
    // Without a ',' on the line the version is not known either.
    EXPECT_STREQ(p.info.osversion, "");
    ExpectServerFields(p, "", "", "", "");

    Parsed oneComma =
        Parse(Message({"HTTP/1.1 200 OK", kLocation, "SERVER: VEXA/3.0, UPnP/1.0", "EXT: a, V/h/p", kUsn}));
    EXPECT_STREQ(oneComma.info.osversion, "3.0");
    ExpectServerFields(oneComma, "", "", "", "");
}

TEST(SsdpParse, LfOnlyLineEndsGiveTheVersionAlone)
{
    // The product description ends only at a CR.
    Parsed p = Parse(Message({"HTTP/1.1 200 OK", kLocation, kServer, kSt, kUsn}, "\n"));
    ASSERT_EQ(p.status, SsdpParseStatus::Accepted);
    EXPECT_STREQ(p.info.osversion, "2.1");
    ExpectServerFields(p, "", "", "", "");
    EXPECT_STREQ(p.info.id, "abcd");
    EXPECT_STREQ(p.info.ip, "192.168.1.20");
    EXPECT_EQ(p.info.type, 1);
}

TEST(SsdpParse, MessagesThatAreNotOurDevices)
{
    std::string other = Message({"HTTP/1.1 200 OK", kLocation, "SERVER: Linux/5.10, UPnP/1.0, Other/1.0", kSt,
                                 "USN: uuid:abcd::urn:schemas-upnp-org:device:HomeNasDevice:1"});
    EXPECT_EQ(Parse(other).status, SsdpParseStatus::NoDeviceOs);
    EXPECT_EQ(Parse("").status, SsdpParseStatus::NoDeviceOs);
}

TEST(SsdpParse, UsnNeedsUuidAndDoubleColonOnItsOwnLine)
{
    EXPECT_EQ(Parse(Reply(kLocation, kServer, "USN: uuid:abcd")).status, SsdpParseStatus::BadUsn);
    EXPECT_EQ(Parse(Reply(kLocation, kServer, "USN: abcd::upnp:rootdevice")).status, SsdpParseStatus::BadUsn);
    EXPECT_EQ(Parse(Reply(kLocation, kServer, "")).status, SsdpParseStatus::BadUsn);

    // A "::" further down (here in a later header) does not end the identifier.
    std::string later =
        Message({"HTTP/1.1 200 OK", kLocation, kServer, "USN: uuid:abcd", "X-NOTE: see a::b"});
    EXPECT_EQ(Parse(later).status, SsdpParseStatus::BadUsn);

    // An empty identifier is what the header says; it is not a reason to drop.
    Parsed empty = Parse(Reply(kLocation, kServer, "USN: uuid:::upnp:rootdevice"));
    ASSERT_EQ(empty.status, SsdpParseStatus::Accepted);
    EXPECT_STREQ(empty.info.id, "");
}

TEST(SsdpParse, LongItemsAreCutTo31Characters)
{
    const std::string longer(45, 'L');
    std::string server = "SERVER: VEXA/" + std::string(40, '9') + ", UPnP/1.0, " + std::string(40, 'v') +
                         "/" + std::string(40, 'h');
    Parsed p = Parse(Reply("LOCATION: http://" + longer + ":80/", server, "USN: uuid:" + longer + "::x"));
    ASSERT_EQ(p.status, SsdpParseStatus::Accepted);
    EXPECT_EQ(std::string(p.info.ip), std::string(31, 'L'));
    EXPECT_EQ(std::string(p.info.id), std::string(31, 'L'));
    EXPECT_EQ(std::string(p.info.osversion), std::string(31, '9'));
    EXPECT_EQ(std::string(p.info.factory), std::string(31, 'v'));
    // The description is looked at for 63 characters only: 40 + '/' + 22 of the
    // host, and without a second '/' inside them no host is taken.
    EXPECT_STREQ(p.info.host, "");
}

TEST(SsdpParse, DescriptionIsLookedAtFor63CharactersOnly)
{
    // vendor "V1", a 40-character host, and the product beginning at character 44:
    // only 19 characters of the product lie inside the first 63.
    const std::string host(40, 'h');
    const std::string product = "PRODUCT-abcdefghijklmnopqrstu"; // 29 characters
    Parsed p = Parse(Reply(kLocation, "SERVER: VEXA/2.1, UPnP/1.0, V1/" + host + "/" + product + "/rest"));
    ASSERT_EQ(p.status, SsdpParseStatus::Accepted);
    EXPECT_STREQ(p.info.factory, "V1");
    EXPECT_EQ(std::string(p.info.host), host.substr(0, 31));
    EXPECT_EQ(std::string(p.info.product), product.substr(0, 63 - 44));
    EXPECT_STREQ(p.info.extra, "");
}

TEST(SsdpParse, NeverReadsPastTheGivenLength)
{
    // The length ends the message inside the USN value; what follows in the
    // buffer, including the "::" that would complete it, is not the message's.
    std::string full = Reply();
    std::string::size_type cut = full.find("::urn");
    ASSERT_NE(cut, std::string::npos);
    Parsed p;
    std::memset(static_cast<void*>(&p.info), 'J', sizeof(p.info));
    p.status = ParseSsdpMessage(full.data(), cut, "198.18.0.9", p.info);
    EXPECT_EQ(p.status, SsdpParseStatus::BadUsn);

    // A NUL ends the text before the length does.
    std::string withNul = Reply();
    withNul[withNul.find("USN:")] = '\0';
    EXPECT_EQ(Parse(withNul).status, SsdpParseStatus::BadUsn);
}

// A search of one device is the group search byte for byte but for HOST,
// which names the device's address and port 1900.
TEST(SsdpRequest, SearchOfOneDeviceNamesItInHost)
{
    const char kRest[] = "ST: urn:schemas-upnp-org:device:HomeNasDevice:1\r\n"
                         "MAN: \"ssdp:discover\"\r\n"
                         "MX: 3\r\n"
                         "\r\n";
    const struct
    {
        std::uint32_t address;
        std::string request;
    } rows[] = {
        {0xC6120105u, std::string("M-SEARCH * HTTP/1.1\r\nHOST: 198.18.1.5:1900\r\n") + kRest},
        {0x01020304u, std::string("M-SEARCH * HTTP/1.1\r\nHOST: 1.2.3.4:1900\r\n") + kRest},
        {0xDFFFFFFEu, std::string("M-SEARCH * HTTP/1.1\r\nHOST: 223.255.255.254:1900\r\n") + kRest},
        {0xEF8FFFFAu, std::string(upnp_searchfmt)},
    };
    for (const auto& row : rows)
        EXPECT_EQ(SsdpSearchRequestTo(row.address), row.request);
}
