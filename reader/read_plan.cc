#include "reader/read_plan.h"

namespace {

RecordShape ShapeOf(const ControlInfo& control) {
  if (control.compressed) return RecordShape::Compressed;
  if (control.chunkedTail) return RecordShape::ChunkedTail;
  return control.variableLength != 0 ? RecordShape::VariableTail : RecordShape::Fixed;
}

}  // namespace

ReadPlan MakeReadPlan(const VersionRules& rules, ReaderVariant variant,
                      const ControlInfo& control) {
  const bool console = variant == ReaderVariant::Console;
  ReadPlan plan{};
  plan.chain = control.compressed ? rules.compressedChain : rules.chain;
  plan.kind = rules.kind;
  plan.pageNumber = rules.pageNumber;
  plan.shape = ShapeOf(control);
  plan.variableViaPageOffset = rules.variableViaPageOffset;
  plan.fragmentCountOffset = rules.fragmentCountOffset;
  plan.firstFragmentOffset = rules.firstFragmentOffset;
  plan.tables = rules.tables;
  plan.recordLength32 = rules.recordLength32;

  plan.tableDirectory = rules.pageMap == PageMapRule::AllocationTables;
  plan.walksMap = !plan.tableDirectory &&
                  (console ? rules.consoleWalksMap : rules.wizardWalksMap);
  plan.adjust4096 = rules.pageMap == PageMapRule::PairsAdjusted;

  if (plan.tableDirectory) {
    // Both programs read these versions alike, from the directory that the
    // tables give.
    plan.directory = DirectoryBuild::AllocationTables;
    plan.listsDataPages = true;
    plan.listsVariablePages = true;
    plan.pageSource = PageSource::DirectoryList;
  } else if (console) {
    // The console walks logical pages through the map and finds variable
    // pages through it too; only the middle class's 0x0700 looks variable
    // pages up in a directory, built from the physical pages.
    const bool needsVariablePages =
        plan.shape != RecordShape::Fixed && !rules.variableViaPageOffset;
    plan.directory = needsVariablePages ? DirectoryBuild::PhysicalScan : DirectoryBuild::None;
    plan.listsDataPages = false;
    plan.listsVariablePages = needsVariablePages;
    plan.pageSource = PageSource::LogicalWalk;
  } else {
    plan.directory = DirectoryBuild::LogicalScan;
    plan.listsDataPages = true;
    plan.listsVariablePages = true;
    plan.pageSource = PageSource::DirectoryList;
  }
  plan.sortDataPages = rules.sortDataPages && plan.listsDataPages;

  if (plan.shape == RecordShape::Compressed) {
    plan.emptySlot = rules.emptySlotCompressed;
  } else {
    plan.emptySlot = console ? rules.emptySlotConsole : rules.emptySlotWizard;
  }
  plan.checkPageNumber = console && rules.consoleChecksPageNumber;
  plan.checkZeroHeader = console && rules.consoleChecksZeroHeader;
  plan.dataPageHeaderSize = rules.dataPageHeaderSize;
  plan.slotsPerPage = (control.pageSize - rules.slotCountReserve) / control.slotLength;
  return plan;
}
