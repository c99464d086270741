// The converter front over a reader context: BufferCDR to BufferMHT, text items with composite
// records, the picture callback, the preparation for the templates and the dumps.
#include "RichTextSupport.h"

#include <NsfFixture.h>

#include <cstring>

#include "nsf/base/memory.h"
#include "nsf/base/status.h"
#include "nsf/catalogue/images.h"
#include "nsf/items/buffers.h"
#include "nsf/richtext/richtext.h"

namespace tessel::test {
namespace {

using kit::Bytes;
using kit::CdWriter;

const std::string kFrameEnd = std::string(kBodyEnd) + kDelimiter + "--";
const std::string kHello = "<FONT FACE=3D\"SANS-SERIF\" SIZE=3D2 COLOR=3D#000000>Hello</FONT>\r\n";

class Front : public NsfTest {
protected:
    void SetUp() override {
        NsfTest::SetUp();
        ASSERT_EQ(nsfInitBuffers(pContext), NSF_STATUS_OK);
    }
    void TearDown() override {
        for (int32_t i = 0; i < pContext->numImages; i++)
            nsfFree(pContext, pContext->images[i]);
        nsfFree(pContext, pContext->images);
        for (int32_t i = 0; i < pContext->numBuffers; i++)
            nsfFreeBuffer(pContext, &pContext->buffers[i]);
        nsfFree(pContext, pContext->buffers);
        NsfTest::TearDown();
    }
    void putCDR(uint16_t wType, const Bytes &rest) {
        Bytes all = {static_cast<uint8_t>(wType & 0xFF), static_cast<uint8_t>(wType >> 8)};
        all.insert(all.end(), rest.begin(), rest.end());
        putRaw(all);
    }
    void putRaw(const Bytes &all) {
        NSFBUFFER *pCDR = pContext->BufferCDR;
        pCDR->ucbData = 0;
        ASSERT_EQ(nsfCheckBuffer(pContext, pCDR, static_cast<uint32_t>(all.size())), NSF_STATUS_OK);
        if (!all.empty())
            std::memcpy(pCDR->rgbData, all.data(), all.size());
        pCDR->ucbData = static_cast<uint32_t>(all.size());
    }
    static std::string get(const NSFBUFFER *pBuffer) {
        return std::string(reinterpret_cast<const char *>(pBuffer->rgbData), pBuffer->ucbData);
    }
    bool logged(const std::string &text) {
        for (const auto &line : logLines())
            if (line.find(text) != std::string::npos)
                return true;
        return false;
    }
    // Adds a shared picture to the context's catalogue.
    void addPicture(const char *pszLinkName, uint16_t wType, const Bytes &data) {
        ASSERT_EQ(nsfNewImage(pContext), NSF_STATUS_OK);
        NSFIMAGE *pImage = pContext->images[pContext->numImages - 1];
        std::strcpy(pImage->szLinkName, pszLinkName);
        pImage->wImageType = wType;
        ASSERT_EQ(nsfCheckBuffer(pContext, pImage->pBuffer, static_cast<uint32_t>(data.size())), NSF_STATUS_OK);
        std::memcpy(pImage->pBuffer->rgbData, data.data(), data.size());
        pImage->pBuffer->ucbData = static_cast<uint32_t>(data.size());
    }
};

TEST_F(Front, CompositeDataBecomesTheBodyAndFrame) {
    CdWriter cd;
    cd.text({}, "Hello");
    putCDR(TYPE_COMPOSITE, cd.bytes());
    ASSERT_EQ(nsfConvertCDRtoMHT(pContext, NULLHANDLE), NSF_STATUS_OK);
    EXPECT_EQ(get(pContext->BufferMHT), kHello + kFrameEnd);
    EXPECT_EQ(pContext->BufferMHT->rgbData[pContext->BufferMHT->ucbData], 0) << "terminated";
    EXPECT_EQ(pContext->BufferCDR->ucbData, 0u) << "BufferCDR is emptied";
}

TEST_F(Front, TypeWordOnlyGivesTheFrame) {
    putCDR(TYPE_COMPOSITE, {});
    ASSERT_EQ(nsfConvertCDRtoMHT(pContext, NULLHANDLE), NSF_STATUS_OK);
    EXPECT_EQ(get(pContext->BufferMHT), kFrameEnd);
}

TEST_F(Front, EmptyBufferGivesTheFrame) {
    putRaw({});
    ASSERT_EQ(nsfConvertCDRtoMHT(pContext, NULLHANDLE), NSF_STATUS_OK);
    EXPECT_EQ(get(pContext->BufferMHT), kFrameEnd);
}

TEST_F(Front, OtherDataTypeIsRefused) {
    putCDR(TYPE_NUMBER, Bytes{0, 0, 0, 0, 0, 0, 0xF0, 0x3F});
    EXPECT_EQ(nsfConvertCDRtoMHT(pContext, NULLHANDLE), NSF_STATUS_INTERNAL);
    EXPECT_TRUE(logged("ERROR nsfConvertCDRtoMHT(): Invalid data type (0x300 "));
}

TEST_F(Front, TextWithoutRecordsGoesBeforeTheBodyEnd) {
    const std::string text = "Hello <you> & 1=1";
    putCDR(TYPE_TEXT, Bytes(text.begin(), text.end()));
    ASSERT_EQ(nsfConvertCDRtoMHT(pContext, NULLHANDLE), NSF_STATUS_OK);
    EXPECT_EQ(get(pContext->BufferMHT), "Hello &lt;you&gt; & 1=3D1\r\n" + kFrameEnd);
}

TEST_F(Front, TextFollowedByRecords) {
    kit::PabDefinition plain;
    plain.id = 1;
    CdWriter cd;
    cd.pabDefinition(plain).pabReference(1).text({}, "Hello");
    Bytes all = kit::toBytes("Lead");
    all.insert(all.end(), cd.bytes().begin(), cd.bytes().end());
    putCDR(TYPE_TEXT, all);
    ASSERT_EQ(nsfConvertCDRtoMHT(pContext, NULLHANDLE), NSF_STATUS_OK);
    EXPECT_EQ(get(pContext->BufferMHT), "<P ALIGN=3DLEFT >\r\n" + kHello + "</P>\r\nLead\r\n" + kFrameEnd);
}

TEST_F(Front, OutputLargerThanTwiceTheInputIsRetried) {
    CdWriter cd;
    cd.text({}, std::string(200, '\t'));
    putCDR(TYPE_COMPOSITE, cd.bytes());
    ASSERT_EQ(nsfConvertCDRtoMHT(pContext, NULLHANDLE), NSF_STATUS_OK);
    std::string tabs;
    for (int i = 0; i < 800; ++i)
        tabs += "&nbsp;";
    EXPECT_EQ(get(pContext->BufferMHT),
              "<FONT FACE=3D\"SANS-SERIF\" SIZE=3D2 COLOR=3D#000000>" + tabs + "</FONT>\r\n" + kFrameEnd);
}

TEST_F(Front, PlainEntryChecksItsArguments) {
    const Bytes cd = {1, 0};
    char out[256];
    uint32_t cbOut = 99;
    QLHAPI *pHAPI = pContext->services;
    EXPECT_EQ(LotusRTConvertToMHT(pContext, nullptr, "1", 0, cd.data(), 2, out, sizeof out, &cbOut), NSF_STATUS_BAD_ARGUMENT);
    EXPECT_EQ(LotusRTConvertToMHT(pContext, pHAPI, nullptr, 0, cd.data(), 2, out, sizeof out, &cbOut), NSF_STATUS_BAD_ARGUMENT);
    EXPECT_EQ(LotusRTConvertToMHT(pContext, pHAPI, "1", 0, nullptr, 2, out, sizeof out, &cbOut), NSF_STATUS_BAD_ARGUMENT);
    EXPECT_EQ(LotusRTConvertToMHT(pContext, pHAPI, "1", 0, cd.data(), 2, nullptr, sizeof out, &cbOut), NSF_STATUS_BAD_ARGUMENT);
    EXPECT_EQ(LotusRTConvertToMHT(pContext, pHAPI, "1", 0, cd.data(), 2, out, sizeof out, nullptr), NSF_STATUS_BAD_ARGUMENT);
    EXPECT_EQ(LotusRTConvertToMHT(pContext, pHAPI, "1", 0, cd.data(), 0, out, sizeof out, &cbOut), NSF_STATUS_OK)
        << "a length below 2 counts as the type word alone";
    EXPECT_EQ(std::string(out), kFrameEnd);
    EXPECT_EQ(cbOut, kFrameEnd.size());
}

TEST_F(Front, PlainEntryReportsTheSizeItNeeds) {
    const Bytes cd = {1, 0};
    char out[16];
    uint32_t cbOut = 0;
    EXPECT_EQ(LotusRTConvertToMHT(pContext, pContext->services, "1", 0, cd.data(), 2, out, sizeof out, &cbOut),
              NSF_STATUS_INTERNAL);
    EXPECT_EQ(cbOut, kFrameEnd.size());
    std::vector<char> exact(kFrameEnd.size());
    EXPECT_EQ(LotusRTConvertToMHT(pContext, pContext->services, "1", 0, cd.data(), 2, exact.data(),
                                  static_cast<uint32_t>(exact.size()), &cbOut),
              NSF_STATUS_INTERNAL)
        << "no room for the terminator";
}

TEST_F(Front, SharedPictureThroughTheCatalogue) {
    const Bytes png = {0x89, 'P', 'N', 'G', 1, 2, 3};
    const Bytes gif = {'G', 'I', 'F', '8', '9', 'a'};
    addPicture("photo", 4, png);
    addPicture("logo", 1, gif);
    CdWriter cd;
    cd.resource(kit::Resource::namedElement("logo")).resource(kit::Resource::namedElement("photo"));
    putCDR(TYPE_COMPOSITE, cd.bytes());
    ASSERT_EQ(nsfConvertCDRtoMHT(pContext, NULLHANDLE), NSF_STATUS_OK);
    EXPECT_EQ(get(pContext->BufferMHT),
              "<IMG src=3D\"file:///ql_0_image0.gif\">\r\n<IMG src=3D\"file:///ql_0_image1.png\">\r\n" +
                  std::string(kBodyEnd) + "\r\n" + kDelimiter +
                  "\r\nContent-Type: image/gif\r\nContent-Transfer-Encoding: base64\r\nContent-Location: "
                  "file:///ql_0_image0.gif\r\n\r\n" +
                  kit::base64(gif) + "\r\n\r\n\r\n" + kDelimiter +
                  "\r\nContent-Type: image/png\r\nContent-Transfer-Encoding: base64\r\nContent-Location: "
                  "file:///ql_0_image1.png\r\n\r\n" +
                  kit::base64(png) + "\r\n\r\n" + kDelimiter + "--");
}

TEST_F(Front, PictureCallbackAnswers) {
    const Bytes gif = {'G', 'I', 'F'};
    addPicture("logo", 1, gif);
    uint8_t *pData = nullptr;
    int32_t nSize = -1, nType = -1;
    EXPECT_EQ(nsfGetMHTImageCB(pContext, nullptr, &pData, &nSize, &nType), NSF_STATUS_BAD_ARGUMENT);
    EXPECT_EQ(nsfGetMHTImageCB(pContext, "logo", nullptr, &nSize, &nType), NSF_STATUS_BAD_ARGUMENT);
    EXPECT_EQ(nsfGetMHTImageCB(pContext, "nothing", &pData, &nSize, &nType), NSF_STATUS_INTERNAL);
    EXPECT_EQ(pData, nullptr);
    EXPECT_EQ(nSize, 0);
    EXPECT_TRUE(logged("WARNING nsfGetMHTImageCB(): nsfFindImage() failed, pszLinkName nothing"));
    ASSERT_EQ(nsfGetMHTImageCB(pContext, "LOGO", &pData, &nSize, &nType), NSF_STATUS_OK);
    ASSERT_NE(pData, nullptr);
    EXPECT_EQ(Bytes(pData, pData + nSize), gif);
    EXPECT_EQ(nType, 1);
    nsfFree(pContext, pData);
}

TEST_F(Front, PictureWithoutDataIsNoPicture) {
    ASSERT_EQ(nsfNewImage(pContext), NSF_STATUS_OK);
    std::strcpy(pContext->images[0]->szLinkName, "blank");
    uint8_t *pData = nullptr;
    int32_t nSize = 0, nType = 0;
    EXPECT_EQ(nsfGetMHTImageCB(pContext, "blank", &pData, &nSize, &nType), NSF_STATUS_INTERNAL);
    EXPECT_TRUE(logged("WARNING nsfGetMHTImageCB(): Empty image data"));
}

TEST_F(Front, DumpStopsAtAnInvalidRecord) {
    putCDR(TYPE_COMPOSITE, Bytes{0x85, 0xFF, 0x40, 0x00, 'a', 'b'});
    EXPECT_EQ(nsfDumpBufferCDR(pContext), NSF_STATUS_INTERNAL);
    EXPECT_TRUE(logged("WARNING nsfDumpBufferCDR(): Invalid ucbRecord"));
}

TEST_F(Front, DumpNamesEveryRecord) {
    CdWriter cd;
    cd.paragraph().text({}, "x");
    putCDR(TYPE_COMPOSITE, cd.bytes());
    EXPECT_EQ(nsfDumpBufferCDR(pContext), NSF_STATUS_OK);
    EXPECT_TRUE(logged("DEBUG nsfDumpRecordCDR(): [00000000] wSignature 641 0x281 ("));
    EXPECT_TRUE(logged("DEBUG nsfDumpRecordCDR(): [00000002] wSignature 65413 0xff85 ("));
}

TEST_F(Front, ForXmlWithoutFieldsKeepsTheRecords) {
    CdWriter cd;
    cd.paragraph().text({}, "odd");
    putCDR(TYPE_COMPOSITE, cd.bytes());
    const std::string before = get(pContext->BufferCDR);
    ASSERT_EQ(nsfConvertCDRforXML(pContext, NULLHANDLE), NSF_STATUS_OK);
    EXPECT_EQ(get(pContext->BufferCDR), before);
}

TEST_F(Front, ForXmlStopsAtAFieldNameOutsideItsRecord) {
    kit::Field field;
    field.name = "Subject";
    CdWriter cd;
    cd.text({}, "x").field(field);
    Bytes bytes = cd.bytes();
    const auto records = kit::cdRecords(bytes);
    bytes[records[1].offset + 30] = 0xF0; // name length far past the record
    putCDR(TYPE_COMPOSITE, bytes);
    const std::string before = get(pContext->BufferCDR);
    ASSERT_EQ(nsfConvertCDRforXML(pContext, NULLHANDLE), NSF_STATUS_OK);
    EXPECT_EQ(get(pContext->BufferCDR), before);
    EXPECT_TRUE(logged("WARNING nsfConvertCDRforXML(): Invalid ucbField 240 0xf0"));
}

TEST_F(Front, ForXmlRefusesAnInvalidRecord) {
    putCDR(TYPE_COMPOSITE, Bytes{0x85, 0xFF, 0x00, 0x00});
    EXPECT_EQ(nsfConvertCDRforXML(pContext, NULLHANDLE), NSF_STATUS_INTERNAL);
    EXPECT_TRUE(logged("WARNING nsfConvertCDRforXML(): Invalid ucbRecord"));
}

} // namespace
} // namespace tessel::test
