// Text documents: a non-fiscal document of printed lines and barcodes.
#include "sim_device.h"
#include "sim_payload.h"

namespace vesklink::sim {

Reply Device::OpenTextDocument(const Bytes& p) {
    if (p.size() != 2) return Fail(kBadFormat);
    if (auto e = NeedNoDocument()) return Fail(e);
    state_.document = {};
    state_.document.kind = DocumentKind::Text;
    return Ok({}, true);
}

// A line of text, in a text document or a receipt: two bytes of print attributes, then the text.
Reply Device::PrintLine(const Bytes& p) {
    if (p.size() < 2) return Fail(kBadFormat);
    if (state_.document.kind == DocumentKind::None) return Fail(kNoDocument);
    const std::string text(p.begin() + 2, p.end());
    Wrap(state_.document.body, text);
    return Ok({}, true);
}

// A QR code (type 1, seven header bytes) or a linear barcode (type 0, nine header bytes, the kind
// in byte 7), then the data.
Reply Device::PrintBarcode(const Bytes& p) {
    if (state_.document.kind == DocumentKind::None) return Fail(kNoDocument);
    std::string label;
    size_t header = 0;
    if (p.size() >= 7 && p[0] == 0x01) {
        label = "QR";
        header = 7;
    } else if (p.size() >= 9 && p[0] == 0x00) {
        header = 9;
        switch (p[7]) {
            case 1: label = "EAN"; break;
            case 4: label = "CODE39"; break;
            default: label = C("ШТРИХКОД"); break;
        }
    } else {
        return Fail(kBadFormat);
    }
    const std::string data(p.begin() + static_cast<std::ptrdiff_t>(header), p.end());
    Wrap(state_.document.body, "[" + label + ": " + data + "]");
    return Ok({}, true);
}

Reply Device::CloseTextDocument(const Bytes& p) {
    if (p.size() != 2) return Fail(kBadFormat);
    if (state_.document.kind != DocumentKind::Text) return Fail(kNoDocument);
    if (auto e = NeedPrinter()) return Fail(e);
    Lines lines = state_.document.body;
    lines.push_back(Rule('='));
    state_.document = {};
    Print(lines);
    return Ok({}, true);
}

}  // namespace vesklink::sim
