#pragma once

#include "host/dicom/WebClient.h"
#include "host/network/HttpError.h"

#include <gtest/gtest.h>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcitem.h>

#include <string>
#include <variant>

namespace Dravelin::Dicom::WebTest {

// The value of one attribute as DCMTK prints it (values joined by "\"), empty when absent.
inline std::string text(DcmItem& item, const DcmTagKey& tag)
{
    OFString value;
    item.findAndGetOFStringArray(tag, value);
    return value.c_str();
}

// The items of a successful answer; a failed answer fails the test and gives none.
inline WebClient::Items itemsOf(WebClient::Result result)
{
    if (auto* error = std::get_if<Network::HttpError>(&result)) {
        ADD_FAILURE() << error->text();
        return {};
    }
    return std::get<WebClient::Items>(result);
}

}  // namespace Dravelin::Dicom::WebTest
