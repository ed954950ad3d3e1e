#include "models/model_info.h"

#include <cstddef>

#include "models/law.h"

namespace tubefit {

namespace {

template <class T, size_t N>
constexpr TableView<T> View(const T (&entries)[N]) {
  return {entries, static_cast<int32_t>(N)};
}

// ---- parameter sets: the slots in order; stages that hold parameters fixed hold the trailing ones.

// The diode offset eps may be negative.
constexpr SlotName kDiodeSlots[] = {{&Slots::k, "k"}, {&Slots::ex, "ex"}, {&Slots::eps, "eps", Sign::kSigned}};

constexpr SlotName kTriodeSlots[] = {
    {&Slots::kVB, "kVB"}, {&Slots::kG1, "kG1"}, {&Slots::kp, "kp"}, {&Slots::ex, "ex"}, {&Slots::mu, "mu"}};

constexpr SlotName kKorenPentodeSlots[] = {{&Slots::mu, "mu"}, {&Slots::ex, "ex"},   {&Slots::kG1, "kG1"},
                                           {&Slots::kp, "kp"}, {&Slots::kVB, "kVB"}, {&Slots::kG2, "kG2"}};

constexpr SlotName kNoltPentodeSlots[] = {
    {&Slots::alpha_s, "alpha_s"}, {&Slots::beta, "beta"}, {&Slots::A, "A"},
    {&Slots::kG2, "kG2"},         {&Slots::kG1, "kG1"},   {&Slots::mu, "mu"},
    {&Slots::ex, "ex"},           {&Slots::kp, "kp"},     {&Slots::kVB, "kVB"}};

constexpr SlotName kNoltTetrodeSlots[] = {
    {&Slots::Sc, "Sc"},           {&Slots::nu, "nu"},     {&Slots::lambda, "lambda"}, {&Slots::w, "w"},
    {&Slots::alpha_p, "alpha'"},  {&Slots::alpha_s, "alpha_s"}, {&Slots::beta, "beta"}, {&Slots::A, "A"},
    {&Slots::kVB, "kVB"},         {&Slots::kG1, "kG1"},   {&Slots::ex, "ex"},         {&Slots::kp, "kp"},
    {&Slots::mu, "mu"},           {&Slots::kG2, "kG2"}};

// NoltE beam tetrode: beta, A and alpha_s in slots 6 to 8.
constexpr SlotName kNoltETetrodeSlots[] = {
    {&Slots::Sc, "Sc"},          {&Slots::nu, "nu"},   {&Slots::lambda, "lambda"}, {&Slots::w, "w"},
    {&Slots::alpha_p, "alpha'"}, {&Slots::beta, "beta"}, {&Slots::A, "A"},         {&Slots::alpha_s, "alpha_s"},
    {&Slots::kVB, "kVB"},        {&Slots::kG1, "kG1"}, {&Slots::ex, "ex"},         {&Slots::kp, "kp"},
    {&Slots::mu, "mu"},          {&Slots::kG2, "kG2"}};

constexpr SlotName kHexodeSlots[] = {
    {&Slots::mu_p, "mu'"},   {&Slots::ex_p, "ex'"},  {&Slots::kG1_p, "kG1'"}, {&Slots::kp_p, "kp'"},
    {&Slots::kVB_p, "kVB'"}, {&Slots::mu3, "mu3"},   {&Slots::alpha_s, "alpha_s"}, {&Slots::beta, "beta"},
    {&Slots::A, "A"},        {&Slots::kG2, "kG2"},   {&Slots::kVB, "kVB"},    {&Slots::kp, "kp"},
    {&Slots::kG1, "kG1"},    {&Slots::mu, "mu"},     {&Slots::ex, "ex"}};

constexpr SlotName kG3PentodeSlots[] = {
    {&Slots::mu_p, "mu'"},        {&Slots::ex_p, "ex'"}, {&Slots::kG1_p, "kG1'"}, {&Slots::V0, "V0"},
    {&Slots::mu3, "mu3"},         {&Slots::ex, "ex"},    {&Slots::alpha_s, "alpha_s"}, {&Slots::beta, "beta"},
    {&Slots::A, "A"},             {&Slots::kG2, "kG2"},  {&Slots::kVB, "kVB"},    {&Slots::kp, "kp"},
    {&Slots::kG1, "kG1"},         {&Slots::mu, "mu"}};

constexpr SlotName kVarMuSlots[] = {
    {&Slots::alpha_s, "alpha_s"}, {&Slots::beta, "beta"}, {&Slots::A, "A"},     {&Slots::kG2, "kG2"},
    {&Slots::kG1, "kG1"},         {&Slots::mu, "mu"},     {&Slots::ex, "ex"},   {&Slots::mu_b, "mu_b"},
    {&Slots::ex_b, "ex_b"},       {&Slots::kp, "kp"},     {&Slots::kVB, "kVB"}, {&Slots::svar, "svar"}};

// ---- fit stages. The tolerance starts at 0.001 and each stage states the one it runs with.

using Count = FitStage::Count;
constexpr Count kFirst = Count::kFirst;
constexpr Count kAllBut = Count::kAllBut;

constexpr char kExceptKoren[] = "Fitting parameters except Koren parameters";
constexpr char kIncludingKoren[] = "Fitting parameters including Koren parameters";

constexpr FitStage kAllStage[] = {{kAllBut, 0, 0.001f, 0, nullptr}};

constexpr FitStage kTriodeStages[] = {{kAllBut, 0, 1e-6f, 0, nullptr}};

// Screen-grid parameters first with the triode part (the trailing five slots) held, then everything.
constexpr FitStage kNoltPentodeStages[] = {{kAllBut, 5, 0.001f, 0, kExceptKoren},
                                           {kAllBut, 0, 0.001f, 0, kIncludingKoren}};

constexpr FitStage kNoltTetrodeStages[] = {{kAllBut, 5, 0.001f, 0, kExceptKoren},
                                           {kAllBut, 0, 1e-6f, 0, kIncludingKoren}};

// The NoltE beam tetrode starts with its secondary-emission slots alone.
constexpr FitStage kNoltETetrodeStages[] = {{kFirst, 5, 0.001f, 0, nullptr},
                                            {kAllBut, 5, 0.001f, 0, kExceptKoren},
                                            {kAllBut, 0, 1e-6f, 0, kIncludingKoren}};

constexpr FitStage kVarMuStages[] = {{kAllBut, 8, 0.001f, 0, "Fitting screen current parameters"},
                                     {kAllBut, 1, 0.001f, 1, "Fitting parameters excluding g1-ratio"},
                                     {kAllBut, 0, 0.0002f, 0, "Fitting parameters including g1-ratio"}};

constexpr FitStage kHexodeStages[] = {{kFirst, 4, 0.01f, 0, nullptr}, {kAllBut, 0, 1e-6f, 0, nullptr}};

constexpr FitStage kG3PentodeStages[] = {{kFirst, 6, 0.01f, 0, nullptr}, {kAllBut, 0, 1e-5f, 0, nullptr}};

// ---- the entries, in the order of the parameter-set table.

// The law at one point, for `Model`.
template <class Law>
void PointModelOf(float Va, float Vs, float Vg1, float Vg3, ParamVector& P, const Slots& s, float& Ia, float& Is) {
  law::Evaluate<Law>(law::Point<float>{Va, Vs, Vg1, Vg3}, P, s, Ia, Is);
}

// True when the entry's slots are exactly the parameters the law reads, each once, each with a name; a
// parameter of the law's own is named as the law names it.
template <class Law>
constexpr bool SlotsAgree(TableView<SlotName> slots) {
  int32_t n = 0;
  for (SlotKey field : Law::kSlots) {
    if (field.empty()) break;
    ++n;
    int32_t found = 0;
    for (const SlotName& slot : slots) {
      const bool named = slot.name[0] != '\0' && (field.own == nullptr || SlotKey::Own(slot.name) == field);
      found += slot.field == field && named ? 1 : 0;
    }
    if (found != 1) return false;
  }
  return n == slots.size;
}

// The entry of the model code of `tube` and `family`, which the law Law describes. An entry whose slots
// differ from the law's does not compile (the throw cannot be evaluated in a constant expression).
template <class Law>
constexpr ModelInfo Entry(Tube tube, Family family, TableView<SlotName> slots, TableView<FitStage> stages,
                          EstRoute estimate, bool cst_files_only, SpiceWriter writer, const char* body,
                          const char* subcircuit, bool companion_triode) {
  if (!SlotsAgree<Law>(slots)) throw "the entry's slots are not the law's";
  ModelInfo m;
  m.code = ModelCode(tube, family);
  m.law = law::kLawIndex<Law>;
  m.model = &PointModelOf<Law>;
  m.tube = tube;
  m.family = family;
  m.slots = slots;
  m.screen_in_objective = tube != Tube::kDiode && tube != Tube::kTriode;
  m.stages = stages;
  m.estimate = estimate;
  m.cst_files_only = cst_files_only;
  m.writer = writer;
  m.body = body;
  m.subcircuit = subcircuit;
  m.companion_triode = companion_triode;
  return m;
}

constexpr TableView<FitStage> kNoStages{};

using T = Tube;
using F = Family;
using R = EstRoute;
using W = SpiceWriter;

constexpr ModelInfo kModels[] = {
    Entry<law::Diode>(T::kDiode, F::kKoren, View(kDiodeSlots), View(kAllStage), R::kDiode, false, W::kDiode, "Diode",
          "DiodeK", false),
    Entry<law::Triode>(T::kTriode, F::kKoren, View(kTriodeSlots), View(kTriodeStages), R::kTriode, false, W::kTriode,
          "Triode", "TriodeK", false),
    Entry<law::KorenPentode>(T::kPentode, F::kKoren, View(kKorenPentodeSlots), View(kAllStage), R::kKorenPentode, true,
          W::kPenthode, "PentodeK", "PentodeK", false),
    Entry<law::NoltPentode>(T::kPentode, F::kNolt, View(kNoltPentodeSlots), View(kNoltPentodeStages), R::kNoltPentode, true,
          W::kPenthode, "Nolt", "PenthodeN", true),
    Entry<law::NoltEPentode>(T::kPentode, F::kNoltE, View(kNoltPentodeSlots), View(kNoltPentodeStages), R::kNoltPentode, true,
          W::kPenthode, "Nolt", "PenthodeNE", true),
    Entry<law::NoltIPentode>(T::kPentode, F::kNoltI, View(kNoltPentodeSlots), View(kNoltPentodeStages), R::kNoltPentode, true,
          W::kPenthode, "Nolt", "PenthodeNi", true),
    Entry<law::NoltBeamTetrode>(T::kBeamTetrode, F::kNolt, View(kNoltTetrodeSlots), View(kNoltTetrodeStages), R::kBeamTetrode, true,
          W::kPenthode, "Nolt", "BTetrodeN", true),
    Entry<law::NoltEBeamTetrode>(T::kBeamTetrode, F::kNoltE, View(kNoltETetrodeSlots), View(kNoltETetrodeStages), R::kBeamTetrode,
          true, W::kPenthode, "Nolt", "BTetrodeNE", true),
    Entry<law::NoltIBeamTetrode>(T::kBeamTetrode, F::kNoltI, View(kNoltTetrodeSlots), View(kNoltTetrodeStages), R::kBeamTetrode, true,
          W::kPenthode, "Nolt", "BTetrodeNi", true),
    Entry<law::Hexode>(T::kHexode, F::kNolt, View(kHexodeSlots), View(kHexodeStages), R::kHexode, true, W::kHepthode,
          "Hepthode", "HepthodeN", false),
    // The g3 pentode with the Nolt keyword has a parameter set but no fit.
    Entry<law::G3PentodeNolt>(T::kG3Pentode, F::kNolt, View(kG3PentodeSlots), kNoStages, R::kNone, false, W::kPenthodeg3,
          nullptr, "", false),
    Entry<law::G3PentodeNoltE>(T::kG3Pentode, F::kNoltE, View(kG3PentodeSlots), View(kG3PentodeStages), R::kG3Pentode, false,
          W::kPenthodeg3, "Penthodeg3", "Penthodeg3NE", false),
    Entry<law::VarMuNolt>(T::kVarMu, F::kNolt, View(kVarMuSlots), View(kVarMuStages), R::kVarMuNolt, true, W::kPenthode,
          "Nolt", "PenthodeVN", false),
    Entry<law::VarMuNoltE>(T::kVarMu, F::kNoltE, View(kVarMuSlots), View(kVarMuStages), R::kVarMuNoltE, true, W::kPenthode,
          "Nolt", "PenthodeVNE", false),
};

constexpr ModelInfo kUnknown{};

// ---- the configuration's words.

constexpr TubeLetter kTubeLetters[] = {
    {'D', T::kDiode, "Tube model is diode.", "D( Diode)"},
    {'T', T::kTriode, "Tube model is triode.", "T (Triode)"},
    {'P', T::kPentode, "Tube model is penthode.", "P (Penthode)"},
    {'B', T::kBeamTetrode, "Tube model is beam tetrode.", "B (Beam tetrode)"},
    {'H', T::kHexode, "Tube model is hexode/heptode.", "H (Hexode/heptode)"},
    {'F', T::kG3Pentode, "Tube model is penthode with g3 modelling.", "F (penthode with g3 modelling)"},
    {'V', T::kVarMu, "Tube model is variable mu penthode.", "V (variable mu penthode)"},
    {'X', T::kTriode, "Tube model is triode (penthode/heptode) .", "X (Penthode with Vs=Va)"},
    {'Y', T::kTriode, "Tube model is triode (heptode, g3 = ctrl grid) .",
     "Y (Hexode/heptode with Vs=Va and g3 as ctrl grid)"},
};

constexpr FamilyKeyword kFamilyKeywords[] = {
    {F::kKoren, "Koren", "Using Koren model"},
    {F::kNolt, "Nolt", "Using Nolt model"},
    {F::kNoltI, "NoltI", "Using initial Nolt model (NoltI)"},
    {F::kNoltE, "NoltE", "Using NoltE model"},
};

constexpr uint32_t Bit(Family family) { return 1u << static_cast<uint32_t>(family); }

constexpr FamilyRule kFamilyRules[] = {
    {"D", Bit(F::kNolt) | Bit(F::kNoltE) | Bit(F::kNoltI),
     "*** Diodes can only be fitted using Koren model - setting model to Koren.", T::kDiode, F::kKoren},
    {"TXY", Bit(F::kNolt) | Bit(F::kNoltE) | Bit(F::kNoltI),
     "*** Triodes can only be fitted using Koren model - setting model to Koren.", T::kTriode, F::kKoren},
    {"B", Bit(F::kKoren),
     "*** Beam tetrodes can only be fitted using Nolt, NoltI or NoltE model - setting model to NoltE.",
     T::kBeamTetrode, F::kNoltE},
};

}  // namespace

const ModelInfo& ModelInfoFor(int32_t iModel) {
  for (const ModelInfo& m : kModels) {
    if (m.code == iModel) return m;
  }
  return kUnknown;
}

TableView<ModelInfo> AllModels() { return View(kModels); }

const char* FamilyName(Family family) {
  for (const FamilyKeyword& f : kFamilyKeywords) {
    if (f.family == family) return f.word;
  }
  return "";
}
TableView<TubeLetter> TubeLetters() { return View(kTubeLetters); }
TableView<FamilyKeyword> FamilyKeywords() { return View(kFamilyKeywords); }
TableView<FamilyRule> FamilyRules() { return View(kFamilyRules); }

SlotMask SignedSlots(const ModelInfo& model) {
  SlotMask kept{};
  for (int32_t i = 1; i <= model.slots.size && i <= MxNP; ++i) kept[i] = model.slots[i - 1].sign == Sign::kSigned;
  return kept;
}

}  // namespace tubefit
