#include "barcodes.h"

#include <zint.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

namespace vdlemu {

namespace {

// ---------------------------------------------------------------------------
// Linear barcodes (B1): the type field picks the symbology.

struct LinearSymbology {
    int zint;
    const char *name;
};

const std::array<LinearSymbology, 17> kLinear = {{
    {BARCODE_CODE39, "Code 39"},                    // 0
    {BARCODE_CODE128, "Code 128"},                  // 1
    {BARCODE_C25INTER, "Interleaved 2 of 5"},       // 2
    {BARCODE_CODABAR, "Codabar"},                   // 3
    {BARCODE_CODE93, "Code 93"},                    // 4
    {BARCODE_UPCA, "UPC-A"},                        // 5
    {BARCODE_UPCE, "UPC-E"},                        // 6
    {BARCODE_EANX, "EAN-13"},                       // 7
    {BARCODE_EANX, "EAN-8"},                        // 8
    {BARCODE_GS1_128, "GS1-128"},                   // 9
    {BARCODE_CODE11, "Code 11"},                    // 10
    {BARCODE_C25IND, "Industrial 2 of 5"},          // 11
    {BARCODE_MSI_PLESSEY, "MSI Plessey"},           // 12
    {BARCODE_POSTNET, "POSTNET"},                   // 13
    {BARCODE_PLANET, "PLANET"},                     // 14
    {BARCODE_ITF14, "ITF-14"},                      // 15
    {BARCODE_EXCODE39, "Code 39 full ASCII"},       // 16
}};

constexpr int kMaxModule = 20;          // dots per module at most
constexpr int kMaxBarHeight = 4000;     // dots
constexpr int kDefaultModule = 2;
constexpr int kDefaultBarHeight = 100;

int within(int64_t value, int low, int high, int fallback) {
    return value < low || value > high ? fallback : int(value);
}

// What to ask zint for, and how to scale what it gives.
struct Plan {
    int symbology = 0;
    int option1 = -1;
    int option2 = 0;
    int option3 = 0;
    int inputMode = DATA_MODE;
    float height = 0;        // in modules; 0 for zint's own
    int moduleWidth = 1;     // dots per module across
    int moduleHeight = 1;    // dots per module down
    bool humanReadable = false;
    bool atPrintSize = false;  // MaxiCode: drawn by zint at its fixed physical size
    bool quietZones = false;   // ITF-14: its quiet zones lie inside its bearer box
};

int moduleField(const Command &c, const char *field, int fallback) {
    return within(c.number(field), 1, kMaxModule, fallback);
}

Plan linearPlan(const Command &c) {
    Plan plan;
    const int type = within(c.number("barcodeType"), 0, 16, 1);
    plan.symbology = kLinear[std::size_t(type)].zint;
    plan.moduleWidth = moduleField(c, "field4", kDefaultModule);
    plan.moduleHeight = plan.moduleWidth;
    const int barHeight = within(c.number("field6"), 1, kMaxBarHeight, kDefaultBarHeight);
    plan.height = float(std::max(barHeight / plan.moduleWidth, 1));
    plan.humanReadable = c.number("field8") != 0;
    if (plan.symbology == BARCODE_GS1_128) plan.inputMode = GS1_MODE | GS1PARENS_MODE;
    plan.quietZones = plan.symbology == BARCODE_ITF14;
    return plan;
}

// Stacked symbols: rows of modules moduleWidth dots wide and rowHeight dots high.
void stackRows(Plan &plan, int moduleWidth, int64_t rowHeight, int fallbackRowHeight) {
    plan.moduleWidth = moduleWidth;
    plan.inputMode |= HEIGHTPERROW_MODE;
    plan.height = float(std::max(within(rowHeight, 1, 400, fallbackRowHeight) / moduleWidth, 1));
}

Plan twoDimensionalPlan(const Command &c) {
    Plan plan;
    switch (c.symbology) {
    case 'M':
        plan.symbology = BARCODE_MAXICODE;
        if (c.number("mode") >= 2) plan.option1 = int(c.number("mode"));
        plan.atPrintSize = true;
        break;
    case 'P':
        plan.symbology = c.number("field8") != 0 ? BARCODE_PDF417COMP : BARCODE_PDF417;
        plan.option1 = within(c.number("eccLevel"), 0, 8, -1);
        plan.option2 = within(c.number("columns"), 1, 30, 0);
        plan.option3 = within(c.number("rows"), 3, 90, 0);
        stackRows(plan, moduleField(c, "field10", 3), c.number("field11"), 10);
        break;
    case 'Q':
        plan.symbology = BARCODE_QRCODE;
        plan.option1 = int(c.number("eccLevel")) + 1;  // L M Q H are zint's 1 to 4
        plan.moduleWidth = moduleField(c, "field6", 4);
        break;
    case 'D':
        plan.symbology = BARCODE_DATAMATRIX;
        plan.moduleWidth = moduleField(c, "field4", 2);
        plan.option3 = c.number("field5") != 0 ? 0 : DM_SQUARE;  // R lets zint choose a rectangle
        break;
    case 'A':
        plan.symbology = BARCODE_AZTEC;
        plan.moduleWidth = moduleField(c, "field4", 2);
        plan.option2 = within(c.number("field6"), 1, 36, 0);
        break;
    case 'F':
        plan.symbology = BARCODE_CODE49;
        stackRows(plan, moduleField(c, "field4", kDefaultModule), c.number("field5"), 20);
        break;
    case 'C':
        plan.symbology = BARCODE_CODABLOCKF;
        stackRows(plan, moduleField(c, "field4", kDefaultModule), c.number("field5"), 20);
        break;
    case 'B':
        plan.symbology = BARCODE_MICROPDF417;
        plan.option2 = within(c.number("field6"), 1, 4, 0);
        stackRows(plan, moduleField(c, "field4", 2), c.number("field5"), 10);
        break;
    default:
        break;
    }
    plan.moduleHeight = plan.moduleWidth;
    return plan;
}

// GS1 DataBar (B3): field4 picks the variant, field5 is the module width,
// field7 the height in dots, segments the expanded stacked form's segments
// per row.
Plan dataBarPlan(const Command &c) {
    static const std::array<int, 6> kVariants = {BARCODE_DBAR_OMN, BARCODE_DBAR_OMN, BARCODE_DBAR_STK,
                                                 BARCODE_DBAR_OMNSTK, BARCODE_DBAR_LTD, BARCODE_DBAR_EXP};
    Plan plan;
    const int variant = within(c.number("field4"), 0, 5, 5);
    plan.symbology = kVariants[std::size_t(variant)];
    const int segments = int(c.number("segments"));
    if (plan.symbology == BARCODE_DBAR_EXP && segments > 0) {
        plan.symbology = BARCODE_DBAR_EXPSTK;
        plan.option2 = std::max(segments / 2, 1);
    }
    plan.moduleWidth = moduleField(c, "field5", kDefaultModule);
    plan.moduleHeight = plan.moduleWidth;
    const int barHeight = within(c.number("field7"), 1, kMaxBarHeight, variant == 1 ? 26 : 66);
    if (plan.symbology == BARCODE_DBAR_OMN || plan.symbology == BARCODE_DBAR_LTD || plan.symbology == BARCODE_DBAR_EXP)
        plan.height = float(std::max(barHeight / plan.moduleWidth, 1));
    if (plan.symbology == BARCODE_DBAR_EXP || plan.symbology == BARCODE_DBAR_EXPSTK)
        plan.inputMode = GS1_MODE | GS1PARENS_MODE;
    return plan;
}

struct SymbolDeleter {
    void operator()(zint_symbol *symbol) const { ZBarcode_Delete(symbol); }
};
using Symbol = std::unique_ptr<zint_symbol, SymbolDeleter>;

// zint's raster at one pixel per module (or at print size), no text (the
// renderer scales it and prints its own text), and no quiet zones but those
// a symbol holds inside itself.
Symbol encode(const Plan &plan, const std::string &data, bool withOptions, int dotsPerInch) {
    Symbol symbol(ZBarcode_Create());
    if (!symbol) return symbol;
    symbol->symbology = plan.symbology;
    symbol->input_mode = plan.inputMode;
    symbol->show_hrt = 0;
    symbol->output_options = plan.quietZones ? 0 : BARCODE_NO_QUIET_ZONES;
    symbol->guard_descent = 0;
    symbol->scale = plan.atPrintSize ? float(dotsPerInch) / 300.0f : 0.5f;  // 0.5: one pixel per module
    if (plan.height > 0) symbol->height = plan.height;
    if (withOptions) {
        symbol->option_1 = plan.option1;
        symbol->option_2 = plan.option2;
        symbol->option_3 = plan.option3;
    }
    const int result = ZBarcode_Encode_and_Buffer(symbol.get(), reinterpret_cast<const unsigned char *>(data.data()),
                                                  int(data.size()), 0);
    if (result >= ZINT_ERROR) symbol.reset();
    return symbol;
}

}  // namespace

const char *linearSymbologyName(int barcodeType) {
    return barcodeType < 0 || barcodeType > 16 ? nullptr : kLinear[std::size_t(barcodeType)].name;
}

bool encodeBarcode(const Command &command, int dotsPerInch, BarcodeImage &image, std::string &problem) {
    const Plan plan = command.code == "B1" ? linearPlan(command)
                      : command.code == "B3" ? dataBarPlan(command)
                                             : twoDimensionalPlan(command);
    if (plan.symbology == 0) {
        problem = "no symbology for this command";
        return false;
    }
    const std::string data = command.text("data");
    if (data.empty() || data.size() > ZINT_MAX_DATA_LEN) {
        problem = data.empty() ? "no data to encode" : "more data than any symbol holds";
        return false;
    }
    // Options the symbol cannot meet (too few rows for the data, say) are
    // dropped for zint's own choice rather than leaving the symbol out.
    Symbol symbol = encode(plan, data, true, dotsPerInch);
    if (!symbol) symbol = encode(plan, data, false, dotsPerInch);
    if (!symbol) {
        Symbol failed(ZBarcode_Create());
        failed->symbology = plan.symbology;
        failed->input_mode = plan.inputMode;
        ZBarcode_Encode(failed.get(), reinterpret_cast<const unsigned char *>(data.data()), int(data.size()));
        problem = std::string("zint: ") + failed->errtxt;
        return false;
    }
    image.modules = Sprite(symbol->bitmap_width, symbol->bitmap_height);
    const unsigned char *rgb = symbol->bitmap;
    for (int y = 0; y < symbol->bitmap_height; ++y)
        for (int x = 0; x < symbol->bitmap_width; ++x, rgb += 3)
            if (rgb[0] < 128) image.modules.set(x, y);
    image.scaleX = plan.atPrintSize ? 1 : plan.moduleWidth;
    image.scaleY = plan.atPrintSize ? 1 : plan.moduleHeight;
    if (plan.humanReadable) image.humanReadable = reinterpret_cast<const char *>(symbol->text);
    return true;
}

}  // namespace vdlemu
