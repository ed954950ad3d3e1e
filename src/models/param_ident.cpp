#include <cstddef>

#include "models/models.h"
#include "text/format.h"
#include "text/stop.h"

namespace tubefit {

namespace {

// One slot of a model's parameter set, in slot order: the field that holds its slot number and its name.
struct SlotName {
  int32_t Slots::*field;
  const char* name;
};

constexpr SlotName kDiode[] = {{&Slots::k, "k"}, {&Slots::ex, "ex"}, {&Slots::eps, "eps"}};

constexpr SlotName kTriode[] = {
    {&Slots::kVB, "kVB"}, {&Slots::kG1, "kG1"}, {&Slots::kp, "kp"}, {&Slots::ex, "ex"}, {&Slots::mu, "mu"}};

constexpr SlotName kKorenPentode[] = {{&Slots::mu, "mu"}, {&Slots::ex, "ex"},   {&Slots::kG1, "kG1"},
                                      {&Slots::kp, "kp"}, {&Slots::kVB, "kVB"}, {&Slots::kG2, "kG2"}};

constexpr SlotName kNoltPentode[] = {
    {&Slots::alpha_s, "alpha_s"}, {&Slots::beta, "beta"}, {&Slots::A, "A"},
    {&Slots::kG2, "kG2"},         {&Slots::kG1, "kG1"},   {&Slots::mu, "mu"},
    {&Slots::ex, "ex"},           {&Slots::kp, "kp"},     {&Slots::kVB, "kVB"}};

constexpr SlotName kNoltTetrode[] = {
    {&Slots::Sc, "Sc"},           {&Slots::nu, "nu"},     {&Slots::lambda, "lambda"}, {&Slots::w, "w"},
    {&Slots::alpha_p, "alpha'"},  {&Slots::alpha_s, "alpha_s"}, {&Slots::beta, "beta"}, {&Slots::A, "A"},
    {&Slots::kVB, "kVB"},         {&Slots::kG1, "kG1"},   {&Slots::ex, "ex"},         {&Slots::kp, "kp"},
    {&Slots::mu, "mu"},           {&Slots::kG2, "kG2"}};

constexpr SlotName kNoltETetrode[] = {
    {&Slots::Sc, "Sc"},          {&Slots::nu, "nu"},   {&Slots::lambda, "lambda"}, {&Slots::w, "w"},
    {&Slots::alpha_p, "alpha'"}, {&Slots::beta, "beta"}, {&Slots::A, "A"},         {&Slots::alpha_s, "alpha_s"},
    {&Slots::kVB, "kVB"},        {&Slots::kG1, "kG1"}, {&Slots::ex, "ex"},         {&Slots::kp, "kp"},
    {&Slots::mu, "mu"},          {&Slots::kG2, "kG2"}};

constexpr SlotName kHexode[] = {
    {&Slots::mu_p, "mu'"},   {&Slots::ex_p, "ex'"},  {&Slots::kG1_p, "kG1'"}, {&Slots::kp_p, "kp'"},
    {&Slots::kVB_p, "kVB'"}, {&Slots::mu3, "mu3"},   {&Slots::alpha_s, "alpha_s"}, {&Slots::beta, "beta"},
    {&Slots::A, "A"},        {&Slots::kG2, "kG2"},   {&Slots::kVB, "kVB"},    {&Slots::kp, "kp"},
    {&Slots::kG1, "kG1"},    {&Slots::mu, "mu"},     {&Slots::ex, "ex"}};

constexpr SlotName kG3Pentode[] = {
    {&Slots::mu_p, "mu'"},        {&Slots::ex_p, "ex'"}, {&Slots::kG1_p, "kG1'"}, {&Slots::V0, "V0"},
    {&Slots::mu3, "mu3"},         {&Slots::ex, "ex"},    {&Slots::alpha_s, "alpha_s"}, {&Slots::beta, "beta"},
    {&Slots::A, "A"},             {&Slots::kG2, "kG2"},  {&Slots::kVB, "kVB"},    {&Slots::kp, "kp"},
    {&Slots::kG1, "kG1"},         {&Slots::mu, "mu"}};

constexpr SlotName kVarMu[] = {
    {&Slots::alpha_s, "alpha_s"}, {&Slots::beta, "beta"}, {&Slots::A, "A"},     {&Slots::kG2, "kG2"},
    {&Slots::kG1, "kG1"},         {&Slots::mu, "mu"},     {&Slots::ex, "ex"},   {&Slots::mu_b, "mu_b"},
    {&Slots::ex_b, "ex_b"},       {&Slots::kp, "kp"},     {&Slots::kVB, "kVB"}, {&Slots::svar, "svar"}};

struct SlotTable {
  const SlotName* entries;
  int32_t count;
};

template <size_t N>
constexpr SlotTable Table(const SlotName (&entries)[N]) {
  return {entries, static_cast<int32_t>(N)};
}

// The parameter set of a model code; count 0 for a code without one.
SlotTable TableFor(int32_t iModel) {
  switch (iModel) {
    case 0:
      return Table(kDiode);
    case 1:
      return Table(kTriode);
    case 2:
      return Table(kKorenPentode);
    case 12:
    case 22:
    case 32:
      return Table(kNoltPentode);
    case 13:
    case 33:
      return Table(kNoltTetrode);
    case 23:
      return Table(kNoltETetrode);
    case 14:
      return Table(kHexode);
    case 15:
    case 25:
      return Table(kG3Pentode);
    case 16:
    case 26:
      return Table(kVarMu);
    default:
      return {nullptr, 0};
  }
}

}  // namespace

void ParamIdent(int32_t iModel, ParamSet& ps) {
  const SlotTable table = TableFor(iModel);
  if (table.count == 0) return;
  for (int32_t i = 1; i <= table.count; ++i) ps.slot.*(table.entries[i - 1].field) = i;
  ps.NFit = table.count;
  if (ps.NFit > MxNP) {
    PlainStop({ListDirected({"Internal error in Subroutine ParamIdent, ", "NFit > MxNP"})});
  }
  for (int32_t i = 1; i <= table.count; ++i) ps.name[i] = PadTo(table.entries[i - 1].name, kNameLength);
}

}  // namespace tubefit
