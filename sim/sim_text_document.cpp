// Text documents: a non-fiscal document of printed lines and barcodes.
#include "sim_device.h"

namespace vesklink::sim {

Reply Device::OpenTextDocument(const Bytes&) {
    if (auto e = NeedNoDocument()) return Fail(e);
    state_.document = {};
    state_.document.kind = DocumentKind::Text;
    return Ok({}, true);
}

// A line of text, in a text document or a receipt: two bytes of print attributes, then the text.
Reply Device::PrintLine(const Bytes& p) {
    if (state_.document.kind == DocumentKind::None) return Fail(kNoDocument);
    Wrap(state_.document.body, std::string(p.begin() + 2, p.end()));
    return Ok({}, true);
}

// A QR code (type 1, seven header bytes) or a linear barcode (type 0, nine header bytes, the kind
// in byte 7), then the data.
Reply Device::PrintBarcode(const Bytes& p) {
    if (state_.document.kind == DocumentKind::None) return Fail(kNoDocument);
    const bool qr = p.size() >= 7 && p[0] == 0x01;
    if (!qr && (p.size() < 9 || p[0] != 0x00)) return Fail(kBadFormat);
    const std::string label = qr ? "QR" : p[7] == 1 ? "EAN" : p[7] == 4 ? "CODE39" : C("ШТРИХКОД");
    const std::string data(p.begin() + (qr ? 7 : 9), p.end());
    Wrap(state_.document.body, "[" + label + ": " + data + "]");
    return Ok({}, true);
}

Reply Device::CloseTextDocument(const Bytes&) {
    if (state_.document.kind != DocumentKind::Text) return Fail(kNoDocument);
    if (auto e = NeedPrinter()) return Fail(e);
    Lines lines = state_.document.body;
    lines.push_back(Rule('='));
    state_.document = {};
    Print(lines);
    return Ok({}, true);
}

}  // namespace vesklink::sim
