#include "host/dicom/dicomweb/DicomJsonReader.h"
#include "tests/host/dicom/dicomweb/WebTestItems.h"

#include <gtest/gtest.h>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcitem.h>
#include <dcmtk/dcmdata/dcsequen.h>

namespace Dravelin::Dicom {
namespace {

using WebTest::text;

std::shared_ptr<DcmItem> readOne(const char* json, int* skipped = nullptr)
{
    auto result = DicomJsonReader::readArray(QByteArray(json), skipped);
    EXPECT_TRUE(std::holds_alternative<DicomJsonReader::Items>(result));
    auto& items = std::get<DicomJsonReader::Items>(result);
    EXPECT_EQ(items.size(), 1u);
    return items.empty() ? nullptr : items.front();
}

TEST(WebDicomJsonReader, ConvertsEveryKindOfValue)
{
    int skipped = -1;
    auto item = readOne(R"([{
      "00080005": {"vr": "CS", "Value": ["ISO_IR 100"]},
      "00080008": {"vr": "CS", "Value": ["ORIGINAL", "PRIMARY", "OTHER"]},
      "00100010": {"vr": "PN", "Value": [{"Alphabetic": "Yamada^Tarou", "Ideographic": "山田^太郎", "Phonetic": "やまだ^たろう"}]},
      "00081050": {"vr": "PN", "Value": [{"Alphabetic": "Doe^Jane"}, {"Alphabetic": "Roe^Rick"}]},
      "00200013": {"vr": "IS", "Value": [7]},
      "00201208": {"vr": "IS", "Value": ["12"]},
      "00200032": {"vr": "DS", "Value": [-0.696426, -146.2891, 161.2891]},
      "00180050": {"vr": "DS", "Value": ["5.000"]},
      "00280010": {"vr": "US", "Value": [512]},
      "00281052": {"vr": "DS", "Value": [-1024]},
      "00189219": {"vr": "SS", "Value": [-5, 6]},
      "00280106": {"vr": "SL", "Value": [-70000]},
      "00186020": {"vr": "UL", "Value": [4000000000]},
      "00189087": {"vr": "FD", "Value": [1000.25]},
      "00189089": {"vr": "FL", "Value": [0.5, 0.25]},
      "00209165": {"vr": "AT", "Value": ["0020000D", "0008103e"]},
      "00080201": {"vr": "SH"},
      "00291010": {"vr": "OB", "InlineBinary": "AQIDBA=="},
      "00283006": {"vr": "OW", "InlineBinary": "AQACAA=="},
      "7FE00010": {"vr": "OW", "BulkDataURI": "http://127.0.0.1/bulk/7fe00010"},
      "00081115": {"vr": "SQ", "Value": [
          {"0020000E": {"vr": "UI", "Value": ["1.2.3"]}, "00080005": {"vr": "CS", "Value": ["ISO_IR 100"]}},
          {"0020000E": {"vr": "UI", "Value": ["1.2.4"]}}]}
    }])",
                        &skipped);
    ASSERT_TRUE(item);
    EXPECT_EQ(skipped, 0);
    // JSON text is UTF-8, whatever the server claimed.
    EXPECT_EQ(text(*item, DCM_SpecificCharacterSet), "ISO_IR 192");
    EXPECT_EQ(text(*item, DCM_ImageType), "ORIGINAL\\PRIMARY\\OTHER");
    EXPECT_EQ(text(*item, DCM_PatientName), "Yamada^Tarou=山田^太郎=やまだ^たろう");
    EXPECT_EQ(text(*item, DCM_PerformingPhysicianName), "Doe^Jane\\Roe^Rick");
    EXPECT_EQ(text(*item, DCM_InstanceNumber), "7");
    EXPECT_EQ(text(*item, DCM_NumberOfStudyRelatedInstances), "12");
    EXPECT_EQ(text(*item, DCM_ImagePositionPatient), "-0.696426\\-146.2891\\161.2891");
    EXPECT_EQ(text(*item, DCM_SliceThickness), "5.000");
    EXPECT_EQ(text(*item, DCM_RescaleIntercept), "-1024");

    Uint16 rows = 0;
    EXPECT_TRUE(item->findAndGetUint16(DCM_Rows, rows).good());
    EXPECT_EQ(rows, 512);
    Sint16 ss = 0;
    EXPECT_TRUE(item->findAndGetSint16(DcmTagKey(0x0018, 0x9219), ss, 1).good());
    EXPECT_EQ(ss, 6);
    Sint32 sl = 0;
    EXPECT_TRUE(item->findAndGetSint32(DcmTagKey(0x0028, 0x0106), sl).good());
    EXPECT_EQ(sl, -70000);
    Uint32 ul = 0;
    EXPECT_TRUE(item->findAndGetUint32(DcmTagKey(0x0018, 0x6020), ul).good());
    EXPECT_EQ(ul, 4000000000u);
    Float64 fd = 0;
    EXPECT_TRUE(item->findAndGetFloat64(DcmTagKey(0x0018, 0x9087), fd).good());
    EXPECT_DOUBLE_EQ(fd, 1000.25);
    Float32 fl = 0;
    EXPECT_TRUE(item->findAndGetFloat32(DcmTagKey(0x0018, 0x9089), fl, 1).good());
    EXPECT_FLOAT_EQ(fl, 0.25f);
    DcmElement* at = nullptr;
    ASSERT_TRUE(item->findAndGetElement(DcmTagKey(0x0020, 0x9165), at).good());
    DcmTagKey second;
    EXPECT_TRUE(at->getTagVal(second, 1).good());
    EXPECT_EQ(second, DCM_SeriesDescription);

    // Present but empty stays present.
    EXPECT_TRUE(item->tagExists(DCM_TimezoneOffsetFromUTC));
    EXPECT_FALSE(item->tagExistsWithValue(DCM_TimezoneOffsetFromUTC));

    const Uint8* ob = nullptr;
    unsigned long count = 0;
    ASSERT_TRUE(item->findAndGetUint8Array(DcmTagKey(0x0029, 0x1010), ob, &count).good());
    ASSERT_EQ(count, 4u);
    EXPECT_EQ(ob[3], 4);
    const Uint16* ow = nullptr;
    ASSERT_TRUE(item->findAndGetUint16Array(DcmTagKey(0x0028, 0x3006), ow, &count).good());
    ASSERT_EQ(count, 2u);
    EXPECT_EQ(ow[0], 1);
    EXPECT_EQ(ow[1], 2);

    // Bulk data is never fetched during a search.
    EXPECT_FALSE(item->tagExists(DCM_PixelData));

    DcmItem* nested = nullptr;
    ASSERT_TRUE(item->findAndGetSequenceItem(DCM_ReferencedSeriesSequence, nested, 1).good());
    EXPECT_EQ(text(*nested, DCM_SeriesInstanceUID), "1.2.4");
    ASSERT_TRUE(item->findAndGetSequenceItem(DCM_ReferencedSeriesSequence, nested, 0).good());
    EXPECT_FALSE(nested->tagExists(DCM_SpecificCharacterSet));
}

TEST(WebDicomJsonReader, SkipsBrokenAttributesButKeepsTheRest)
{
    int skipped = 0;
    auto item = readOne(R"([{
      "0010": {"vr": "PN"},
      "00100020": {"vr": "LO", "Value": ["ID1"]},
      "00280010": {"vr": "US", "Value": [{"oops": 1}]},
      "00100030": "not an object",
      "00280011": {"vr": "US", "Value": [20240101]},
      "00181310": {"vr": "SS", "Value": ["-1e300"]},
      "00280008": {"vr": "UL", "Value": [-1]},
      "00186020": {"vr": "SL", "Value": [1e10]},
      "00189327": {"vr": "FL", "Value": [1e300]}
    }])",
                        &skipped);
    ASSERT_TRUE(item);
    // Numbers outside their VR's range are broken values too.
    EXPECT_EQ(skipped, 8);
    EXPECT_EQ(text(*item, DCM_PatientID), "ID1");
}

TEST(WebDicomJsonReader, RejectsAnswersThatAreNotAnArrayOfObjects)
{
    for (const char* bad : {"[{\"00100020\": {\"vr\": \"LO\", \"Value\": [\"ID1\"]}", "{}", "[1, 2]", "<html>"}) {
        auto result = DicomJsonReader::readArray(QByteArray(bad));
        ASSERT_TRUE(std::holds_alternative<std::string>(result)) << bad;
        EXPECT_NE(std::get<std::string>(result).find("Malformed DICOM JSON"), std::string::npos);
    }
    auto empty = DicomJsonReader::readArray(QByteArray("  "));
    ASSERT_TRUE(std::holds_alternative<DicomJsonReader::Items>(empty));
    EXPECT_TRUE(std::get<DicomJsonReader::Items>(empty).empty());
}

}  // namespace
}  // namespace Dravelin::Dicom
