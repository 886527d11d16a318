#pragma once

#include "RecordedStep.h"

// A step from its fields, in the store's order.
inline RecordedStep step(const QString& url, const QString& postdata = {}, const QString& keywords = {},
                         const QString& errors = {}, const QString& cookies = {},
                         const QString& httpuser = {}, const QString& httppass = {},
                         const QString& timeout = {}, const QString& ping = {}, const QString& label = {})
{
    return {url, postdata, keywords, errors, cookies, httpuser, httppass, timeout, ping, label, std::nullopt};
}
