#include "extract/parsermessages.h"

#include <libxml/globals.h>
#include <libxml/xmlerror.h>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <string_view>

#include "extract/liblog.h"
#include "platform/text.h"

namespace {

void GenericXmlMessage(void*, const char* format, ...)
{
    if (!format) return;
    char buffer[2048];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(buffer, sizeof buffer, format, ap);
    va_end(ap);
    TraceParserMessage("xml", buffer);
}

void StructuredXmlMessage(void*, xmlErrorPtr error)
{
    if (!error || !error->message) return;
    const std::string where = error->file ? std::string(error->file) + ":" + std::to_string(error->line) + ": " : "";
    TraceParserMessage("xml", (where + error->message).c_str());
}

}  // namespace

extern "C" void TraceParserMessage(const char* source, const char* message)
{
    if (!message || ConvertLog().Mode() == 0) return;
    std::string_view text(message);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    if (text.empty()) return;
    const std::u16string from = plat::PathFromNative(source ? source : "parser");
    const std::u16string what = plat::PathFromNative(text);
    ConvertLog().Write(u"[%s] %s", from.c_str(), what.c_str());
}

void RouteXmlMessagesToTrace()
{
    xmlThrDefSetGenericErrorFunc(nullptr, &GenericXmlMessage);
    xmlThrDefSetStructuredErrorFunc(nullptr, &StructuredXmlMessage);
    xmlSetGenericErrorFunc(nullptr, &GenericXmlMessage);
    xmlSetStructuredErrorFunc(nullptr, &StructuredXmlMessage);
}

void TraceXmlReaderError(void*, const char* message, xmlParserSeverities, xmlTextReaderLocatorPtr locator)
{
    if (!message) return;
    const int line = locator ? xmlTextReaderLocatorLineNumber(locator) : -1;
    if (line > 0)
        TraceParserMessage("xml", ("line " + std::to_string(line) + ": " + message).c_str());
    else
        TraceParserMessage("xml", message);
}
