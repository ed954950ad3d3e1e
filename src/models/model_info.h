// One description per model code: everything the program knows about a model besides its equations.
//
// A model code is a tube kind and a model family (iModel = tube base + family offset). Its entry gives the
// parameter set (slot order and printed names), whether the screen current enters the objective, the fit
// stages, the route of the start-value estimation, the subcircuit writer and body, and whether a
// triode-connected companion subcircuit follows. The other modules ask the entry instead of testing the
// code. Nothing here knows of files, consoles or the fit itself; the routes and bodies are names that the
// estimation and the subcircuit writers map to their own functions.
#pragma once

#include <cstdint>

#include "core/param_set.h"

namespace tubefit {

// The tube kinds that have a model code base: D 0; T, X, Y 1; P 2; B 3; H 4; F 5; V 6.
enum class Tube { kDiode, kTriode, kPentode, kBeamTetrode, kHexode, kG3Pentode, kVarMu };

// The model families, by their code offset divided by 10: Koren 0, Nolt 10, NoltE 20, NoltI 30. A family
// is a row of FamilyKeywords(); the values named here are those the other modules test.
enum class Family : int32_t { kKoren, kNolt, kNoltE, kNoltI };

// The family as the configuration names it (its row of FamilyKeywords()); "" for a value without a row.
const char* FamilyName(Family family);

// The model code of a tube kind and family.
constexpr int32_t ModelCode(Tube tube, Family family) {
  return static_cast<int32_t>(tube) + 10 * static_cast<int32_t>(family);
}

// A read-only run of table entries.
template <class T>
struct TableView {
  const T* data = nullptr;
  int32_t size = 0;
  constexpr const T* begin() const { return data; }
  constexpr const T* end() const { return data + size; }
  constexpr bool empty() const { return size == 0; }
  constexpr const T& operator[](int32_t i) const { return data[i]; }
};

// What the fit does with the sign of a slot once a stage ends: make it positive (the laws take most
// parameters by magnitude or need them positive), or leave it as the fit found it.
enum class Sign { kPositive, kSigned };

// One slot of a parameter set, in slot order: where its slot number is kept, its printed name and its sign
// rule. A parameter of the law's own is keyed by its printed name, {SlotKey::Own("kc"), "kc"}.
struct SlotName {
  SlotKey field;
  const char* name;
  Sign sign = Sign::kPositive;
};

// One fit stage: which leading slots it varies, the tolerance it sets, and the console lines before it.
struct FitStage {
  enum class Count { kFirst, kAllBut };
  Count count;               // kFirst: the first n slots; kAllBut: NFit - n slots
  int32_t n;
  float tol;                 // the fit tolerance of the stage
  int32_t blank_lines;       // empty lines before the stage (and before its heading)
  const char* heading;       // printed after one more empty line, or nullptr for no heading

  // The number of leading slots the stage varies for a parameter set of nfit slots.
  int32_t Free(int32_t nfit) const { return count == Count::kFirst ? n : nfit - n; }
};

// How the start values of a code are found (see estimate/): the estimators that run, in which order.
enum class EstRoute {
  kNone,          // no estimation
  kDiode,         // EstDiode
  kTriode,        // EstMu, EstkGExp, Estkp, EstkVB
  kKorenPentode,  // triode file, kVB = 100, EstkG2
  kNoltPentode,   // triode file, EstkG2, EstA, the division law of the family
  kBeamTetrode,   // as kNoltPentode, then EstSec
  kVarMuNolt,     // as kNoltPentode, then the second section from the scaled mu
  kVarMuNoltE,    // the second section from the triode file first, then as kNoltPentode
  kHexode,        // both triode files, EstkG2, EstkG1g3, EstA, Estalsbe, mu3
  kG3Pentode,     // the pentode file and fixed g3 values
};

// The five subcircuit writers, by the frame they write (console text and pin list).
enum class SpiceWriter { kDiode, kTriode, kPenthode, kHepthode, kPenthodeg3 };


// The anode and screen current of a law at one point, as `Model` evaluates it (see models/models.h).
using PointModel = void (*)(float Va, float Vs, float Vg1, float Vg3, ParamVector& P, const Slots& s, float& Ia,
                            float& Is);

struct ModelInfo {
  int32_t code = -1;                 // iModel; -1 for the entry of a code the program does not know
  int32_t law = -1;                  // index of the model's law in law::AllLaws; -1 for none
  PointModel model = nullptr;        // the law at one point; null for a code without one
  Tube tube = Tube::kDiode;
  Family family = Family::kKoren;
  TableView<SlotName> slots;         // the parameter set; empty for a code without one
  bool screen_in_objective = false;  // whether the screen-current error enters the sum of squares
  TableView<FitStage> stages;        // the fit sequence; empty for a code the program does not fit
  EstRoute estimate = EstRoute::kNone;
  bool cst_files_only = false;       // the estimators see only the Vs=Cst files
  SpiceWriter writer = SpiceWriter::kPenthode;
  const char* body = nullptr;        // the body of the subcircuit file, by the name spice/ knows it by
  const char* subcircuit = "";       // name of the model subcircuit, "" without a body
  bool companion_triode = false;     // a triode file follows when the last file ties the screen to the anode
};

// A tube letter of the configuration file: the tube kind it selects, the console line that reports it, and
// its line in the list of known tubes.
struct TubeLetter {
  char letter;
  Tube tube;
  const char* line;
  const char* known;
};

// A model family word of the configuration file and the console line that reports it.
struct FamilyKeyword {
  Family family;
  const char* word;
  const char* line;
};

// A family that a tube kind cannot use: for the tube letters given, a configured family in `families`
// (bit i for Family i) is replaced by the code of (tube, family) with the console line given.
struct FamilyRule {
  const char* letters;
  uint32_t families;
  const char* line;
  Tube tube;
  Family family;
};

// The tube letters, family words (in the order the configuration reader lists them) and family rules.
TableView<TubeLetter> TubeLetters();
TableView<FamilyKeyword> FamilyKeywords();
TableView<FamilyRule> FamilyRules();

// The entry of a model code; for a code without one, an entry with no slots, no stages and no body.
const ModelInfo& ModelInfoFor(int32_t iModel);

// Every model code that has an entry, in the order of the parameter-set table.
TableView<ModelInfo> AllModels();

// The slots (1..MxNP) whose sign the fit leaves alone, from the entry's sign rules: slot i is the entry's
// i-th parameter, as ParamIdent numbers them.
SlotMask SignedSlots(const ModelInfo& model);

// ParamIdent from a slot table: slot i is the table's i-th row.
void ParamIdentFrom(TableView<SlotName> table, ParamSet& ps);

}  // namespace tubefit
