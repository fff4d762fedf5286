/* Messages of the parsers behind the readers (the XML parser, the PDF
   library) go to the extraction library's trace log, never to the
   terminal: a damaged document is reported by its status, and the trace
   log keeps what the parser said about it. */
#ifndef PS_EXTRACT_PARSERMESSAGES_H
#define PS_EXTRACT_PARSERMESSAGES_H

#ifdef __cplusplus
extern "C" {
#endif

/* One message of a parser; `source` names the parser ("xml", "pdf", ...).
   Trailing line ends are dropped, empty messages ignored. Any thread. */
void TraceParserMessage(const char* source, const char* message);

#ifdef __cplusplus
}

#include <libxml/xmlreader.h>

// Gives the XML parser's generic and structured error handlers to the trace
// log, for the calling thread and as the default of threads started later.
void RouteXmlMessagesToTrace();
// The error handler of one XML text reader.
void TraceXmlReaderError(void* arg, const char* message, xmlParserSeverities severity,
                         xmlTextReaderLocatorPtr locator);
#endif

#endif
