#pragma once

#include "host/dicom/dicomweb/WebClient.h"
#include "host/network/HttpError.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcitem.h>

#include <string>
#include <variant>

namespace Dravelin::Dicom::WebTest {

using Dravelin::Test::text;

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
