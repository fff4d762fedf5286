// Fuzz target: the PDF text reader.
#include <string>

#include "extract/extractlib.h"
#include "fuzz_file.h"
#include "fuzz_target.h"

namespace {

ps_fuzz::Outcome ReadPdf(const std::uint8_t* data, std::size_t size)
{
    ps_fuzz::Outcome o;
    o.read = ConvertPdfToText(ps_fuzz::InputFile(data, size, ".pdf").c_str(), nullptr, &o.text) == EntryResult::Read;
    return o;
}

const ps_fuzz::Registrar kPdf("pdf_fuzz", ReadPdf);

}  // namespace
