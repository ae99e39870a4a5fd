// Searches of the model table VELDRIN_DEVICE.
#ifndef VDL_MODEL_TABLE_H
#define VDL_MODEL_TABLE_H

namespace vdl {

// The label printers this library drives occupy these slots; the model check
// accepts a printer only when its reply names one of them.
constexpr int kFirstLabelPrinterSlot = 151;
constexpr int kLastLabelPrinterSlot = 190;

// The first slot, from firstSlot upwards, whose name occurs in text compared
// without regard to letter case; 0 when none does. Walking upwards means that
// a text naming a family's plain name and one of its suffixed variants is
// classified by the lower slot.
int findModel(const char *text, int firstSlot);

}  // namespace vdl

#endif
