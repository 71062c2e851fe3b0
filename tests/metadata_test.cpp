// The metadata readers over blocks built here byte by byte.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "codecs/gif/gif_decoder.h"
#include "core/text.h"
#include "metadata/exif_reader.h"
#include "metadata/iptc_reader.h"
#include "metadata/photoshop_resources.h"
#include "metadata/xmp_reader.h"
#include "tests/jpeg_test_encoder.h"
#include "tests/test_support.h"

namespace {

using pv::PropertySet;

std::string Text(PropertySet& p, uint32_t id) { return p.Has(id) ? pv::WideToUtf8(p.GetText(id)) : "(none)"; }

// A camera's block: IFD0 points at the EXIF and GPS directories, which are
// written first so that their offsets are known.
std::vector<uint8_t> CameraExif(bool big, const std::vector<uint32_t>& latitude) {
  using pvtest::TiffAscii;
  pvtest::TiffBuilder w(big);
  const uint32_t exif = w.Directory({{33434, pv::kTiffRational, {1, 250}},
                                     {37386, pv::kTiffRational, {50, 1}},
                                     {34855, pv::kTiffShort, {200}},
                                     {37380, pv::kTiffSRational, {0xFFFFFFFFu, 3}},
                                     {37385, pv::kTiffLong, {9}},  // wrong type: ignored
                                     TiffAscii(36867, "2024:05:01 10:20:30")}, false);
  const uint32_t gps = w.Directory({TiffAscii(1, "N"),
                                    {2, pv::kTiffRational, latitude},
                                    TiffAscii(3, "E"),
                                    {4, pv::kTiffRational, {2, 1, 17, 1, 403, 10}},
                                    {5, pv::kTiffByte, {1}},
                                    {6, pv::kTiffRational, {35, 1}}}, false);
  w.Directory({TiffAscii(271, "Canon"), TiffAscii(271, "Nikon"),  // the first one wins
               TiffAscii(272, "R5 "), {274, pv::kTiffShort, {6}}, {34665, pv::kTiffLong, {exif}},
               {34853, pv::kTiffLong, {gps}}});
  w.bytes.insert(w.bytes.begin(), {'E', 'x', 'i', 'f', 0, 0});
  return w.bytes;
}

TEST(Metadata, ExifBlockGivesCameraExposureOrientationAndPosition) {
  // Byte order, the latitude's degrees, minutes and seconds, the position shown.
  struct Case { bool big; std::vector<uint32_t> latitude; const char* gps; };
  const Case cases[] = {
      {false, {48, 1, 515, 10, 0, 1}, "48\u00B051'30.00\" N, 2\u00B017'40.30\" E, -35m"},
      {true, {488584, 10000, 0, 1, 0, 1}, "48\u00B051'30.24\" N, 2\u00B017'40.30\" E, -35m"},
  };
  for (const Case& c : cases) {
    PropertySet p;
    const std::vector<uint8_t> block = CameraExif(c.big, c.latitude);
    pv::ReadExifBlock(pv::ByteReader(block.data(), block.size()), p);
    SCOPED_TRACE(c.big ? "big-endian" : "little-endian");
    EXPECT_EQ(Text(p, pv::kPropCameraMaker), "Canon");
    EXPECT_EQ(Text(p, pv::kPropCameraModel), "R5");
    EXPECT_EQ(Text(p, pv::kPropOrientation), "Rotated 270");
    EXPECT_EQ(pv::OrientationCode(p.GetText(pv::kPropOrientation)), 3);
    EXPECT_EQ(Text(p, pv::kPropExposureTime), "0.004 s");
    EXPECT_EQ(Text(p, pv::kPropFocalLength), "50.000 mm");
    EXPECT_EQ(Text(p, pv::kPropIsoSpeed), "200");
    EXPECT_EQ(Text(p, pv::kPropExposureBias), "-0.333");
    EXPECT_EQ(Text(p, pv::kPropFlash), "(none)");
    EXPECT_EQ(Text(p, pv::kPropCreationDate), "2024:05:01 10:20:30");
    EXPECT_EQ(Text(p, pv::kPropGps), c.gps);
  }
}

// Every cut of a block and every flipped byte reads without a fault (the
// address sanitizer watches the exact-size copies).
TEST(Metadata, DamagedBlocksAreReadSafely) {
  const std::vector<uint8_t> exif = CameraExif(false, {48, 1, 515, 10, 0, 1});
  const std::string xmp =
      "<?xpacket begin='' id='W5M0MpCehiHzreSzNTczkc9d'?><rdf:Description xmlns:dc='http://purl.org/dc/elements/1.1/' "
      "xmlns:exif='http://ns.adobe.com/exif/1.0/' exif:GPSLatitude='48,51.5N' exif:GPSLongitude='2,17.6E'>"
      "<dc:subject><rdf:Bag><rdf:li>a</rdf:li></rdf:Bag></dc:subject></rdf:Description>";
  const std::vector<uint8_t> iptc = {0x1C, 2, 25, 0, 3, 'k', 'e', 'y', 0x1C, 2, 5, 0, 2, 'T', 'i'};
  for (const std::vector<uint8_t>& whole : {exif, std::vector<uint8_t>(xmp.begin(), xmp.end()), iptc}) {
    for (size_t n = 0; n <= whole.size(); ++n) {
      std::vector<uint8_t> cut(whole.begin(), whole.begin() + n);
      for (size_t flip : {size_t{0}, n / 2}) {
        if (flip < cut.size()) cut[flip] ^= 0xFF;
        PropertySet p;
        const pv::ByteReader r(cut.data(), cut.size());
        pv::ReadExifBlock(r, p);
        pv::ExifThumbnail(r);
        pv::ReadXmpPacket(r, p);
        pv::ReadIptc(r, p);
        pv::ReadPhotoshopResources(r, p);
      }
    }
  }
}

TEST(Metadata, ExifThumbnailOnlyWhereItLiesWhole) {
  const std::vector<uint8_t> thumbnail = {0xFF, 0xD8, 0xFF, 0xD9, 7};
  const std::vector<uint8_t> segment = jpegtest::ExifThumbnailSegment(thumbnail);
  // Offsets in the block (the segment without its marker and length): the
  // first directory's link at 16, the thumbnail's length at 42, its first byte at 50.
  struct Case { const char* what; size_t at; uint8_t value; bool found; };
  const Case cases[] = {{"whole", 0, 'E', true},
                        {"not a JPEG file", 50, 0, false},
                        {"length past the end", 42, 6, false},
                        {"length too short for a file", 42, 3, false},
                        {"no second directory", 16, 0, false},
                        {"the first directory again", 16, 8, false}};
  for (const Case& c : cases) {
    std::vector<uint8_t> block(segment.begin() + 4, segment.end());
    block[c.at] = c.value;
    const pv::ByteReader found = pv::ExifThumbnail(pv::ByteReader(block.data(), block.size()));
    EXPECT_EQ(std::vector<uint8_t>(found.Data(), found.Data() + found.Size()),
              c.found ? thumbnail : std::vector<uint8_t>()) << c.what;
  }
}

std::vector<uint8_t> Utf16(const std::string& s, bool big) {
  std::vector<uint8_t> out;
  for (unsigned char c : s) {
    out.push_back(big ? 0 : c);
    out.push_back(big ? c : 0);
  }
  return out;
}

TEST(Metadata, XmpPacketsInTheirEncodingsAndForms) {
  const std::string body =
      "<x:xmpmeta><rdf:RDF><rdf:Description rdf:about='' xmlns:t='http://ns.adobe.com/tiff/1.0/' t:Make=\"X\" "
      "t:XResolution='300/1' t:YResolution='150' t:ResolutionUnit='2'/>"
      "<rdf:Description xmlns:xmp='http://ns.adobe.com/xap/1.0/'><xmp:CreateDate>2020-01-02</xmp:CreateDate>"
      "</rdf:Description><rdf:Description xmlns:exif='http://ns.adobe.com/exif/1.0/'>"
      "<exif:GPSLatitude>48,51.5N</exif:GPSLatitude><exif:GPSLongitude>2,17,40.3E</exif:GPSLongitude>"
      "<exif:GPSAltitude>35/1</exif:GPSAltitude></rdf:Description>"
      "<rdf:Description xmlns:dc='http://purl.org/dc/elements/1.1/'><dc:title><rdf:Alt>"
      "<rdf:li xml:lang='x-default'>Sunset</rdf:li></rdf:Alt></dc:title><dc:creator>  Ann  </dc:creator>"
      "<dc:subject><rdf:Bag><rdf:li>a</rdf:li><rdf:li>b</rdf:li></rdf:Bag></dc:subject></rdf:Description>"
      "</rdf:RDF></x:xmpmeta>";
  const std::string utf8 = "<?xpacket begin='\xEF\xBB\xBF' id='W5M0MpCehiHzreSzNTczkc9d'?>" + body;
  std::vector<uint8_t> le = Utf16("<?xpacket begin='", false);
  le.insert(le.end(), {0xFF, 0xFE});
  const std::vector<uint8_t> rest = Utf16("' id='W5M0MpCehiHzreSzNTczkc9d'?>" + body, false);
  le.insert(le.end(), rest.begin(), rest.end());
  const std::vector<uint8_t> be = Utf16("<?xpacket begin='?' id='W5M0MpCehiHzreSzNTczkc9d'?>" + body, true);

  for (const std::vector<uint8_t>& packet : {std::vector<uint8_t>(utf8.begin(), utf8.end()), le}) {
    PropertySet p;
    pv::ReadXmpPacket(pv::ByteReader(packet.data(), packet.size()), p);
    EXPECT_EQ(Text(p, pv::kPropCameraMaker), "X");
    EXPECT_EQ(Text(p, pv::kPropDensity), "300 x 150 ppi");
    EXPECT_EQ(Text(p, pv::kPropCreationDate), "2020-01-02");
    EXPECT_EQ(Text(p, pv::kPropGps), "48\u00B051'30.00\" N, 2\u00B017'40.30\" E, +35m");
    EXPECT_EQ(Text(p, pv::kPropTitle), "Sunset");
    EXPECT_EQ(Text(p, pv::kPropAuthor), "Ann");
    EXPECT_EQ(Text(p, pv::kPropKeywords), "a");
    EXPECT_EQ(Text(p, pv::kPropKeywords + 1), "b");
    EXPECT_EQ(Text(p, pv::kPropKeywords + 2), "(none)");
  }
  PropertySet ignored;
  pv::ReadXmpPacket(pv::ByteReader(be.data(), be.size()), ignored);
  EXPECT_EQ(Text(ignored, pv::kPropTitle), "(none)") << "big-endian packets are not read";
}

TEST(Metadata, IptcRecordsThroughPhotoshopResources) {
  const std::vector<uint8_t> records = {0x1C, 2, 25, 0, 3, 'k', 'e', 'y', 0x1C, 2, 25, 0, 2, 'k', '2',
                                        0x1C, 1, 5,  0, 1, 'x',  // record 1: skipped
                                        0x1C, 2, 5,  0, 5, 'T', 'i', 't', ' ', ' ', 0x1C, 2, 80, 0, 3, 'A', 'n', 'n'};
  std::vector<uint8_t> resources = {'8', 'B', 'I', 'M', 0x04, 0x04, 0, 0, 0, 0, 0, static_cast<uint8_t>(records.size())};
  resources.insert(resources.end(), records.begin(), records.end());
  if (records.size() & 1) resources.push_back(0);
  struct Case {
    bool hadKeywords;
    const char* first;
    const char* second;
  };
  for (const Case& c : {Case{false, "key", "k2"}, Case{true, "earlier", "(none)"}}) {
    PropertySet p;
    p.SetText(pv::kPropAuthor, L"Bob");
    if (c.hadKeywords) p.SetText(pv::kPropKeywords, L"earlier");
    pv::ReadPhotoshopResources(pv::ByteReader(resources.data(), resources.size()), p);
    EXPECT_EQ(Text(p, pv::kPropKeywords), c.first);
    EXPECT_EQ(Text(p, pv::kPropKeywords + 1), c.second);
    EXPECT_EQ(Text(p, pv::kPropTitle), "Tit");
    EXPECT_EQ(Text(p, pv::kPropAuthor), "Bob") << "an earlier value is kept";
  }
}

// A GIF carries its packet as plain bytes behind "XMP DataXMP", closed by
// the trailer that lets a sub-block reader step over it.
TEST(Metadata, GifXmpPacketIsReadWhole) {
  const std::string packet = "<?xpacket begin=''?><rdf:Description xmlns:dc='http://purl.org/dc/elements/1.1/'>"
                             "<dc:title>" + std::string(300, 'a') + "</dc:title></rdf:Description><?xpacket end='r'?>";
  std::vector<uint8_t> gif;
  const auto add = [&gif](std::string_view bytes) { gif.insert(gif.end(), bytes.begin(), bytes.end()); };
  add(std::string_view("GIF89a\x01\x00\x01\x00\x80\x00\x00\x00\x00\x00\xFF\xFF\xFF\x21\xFF\x0BXMP DataXMP", 33));
  add(packet);
  gif.push_back(0x01);
  for (int v = 255; v >= 0; --v) gif.push_back(static_cast<uint8_t>(v));
  gif.push_back(0);
  add(std::string_view("\x2C\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x4C\x01\x00\x3B", 16));
  pvtest::DecodedBytes d = pvtest::DecodeWith(pv::CreateGifDecoder, L"gif", gif);
  ASSERT_TRUE(pv::Succeeded(d.decode));
  EXPECT_EQ(Text(d.buffer->Properties(), pv::kPropTitle), std::string(300, 'a'));
}

}  // namespace
