// The element and instance lines of every model subcircuit. Fixed lines are kept character for character
// (blanks, TABs and case matter to the readers of these files); lines with fitted values are formatted.
#include <cstring>
#include <string>
#include <vector>

#include "models/model_info.h"
#include "spice/spice.h"
#include "spice/spice_body.h"
#include "text/format.h"

namespace tubefit {

namespace {

const char kDiodeModelLine[] = ".MODEL DX D(IS=1N RS=1 CJO=10PF TT=1N)";
const char kTriodeE1Tail[] = "+{V(2,4)/KP*LOG(1+EXP(KP*(1/MU+V(3,4)/SQRT(KVB+V(2,4)*V(2,4)))))}";
const char kCapsA[] = "+ CCG1=0.0P  CCG2 = 0.0p CPG1 = 0.0p CG1G2 = 0.0p CCP=0.0P  ;";
const char kCapsB[] = "+ CCG1=0.0P  CCG2 = 0.0p CPG1 = 0.0p  CG1G2 = 0.0p CCP=0.0P  ;";

// One row of the Nolt-family table: what the eight bodies do differently.
struct NoltVariant {
  enum Family { kNolt, kNoltI, kNoltE };
  const char* model;
  Family family;
  bool tetrode;
  bool varmu;
};

// The row of a code whose body is one of the Nolt family; false for any other code.
bool NoltVariantOf(int32_t iModel, NoltVariant& v) {
  const ModelInfo& m = ModelInfoFor(iModel);
  NoltVariant::Family family = NoltVariant::kNolt;
  if (m.family == Family::kNoltI) family = NoltVariant::kNoltI;
  if (m.family == Family::kNoltE) family = NoltVariant::kNoltE;
  v = {m.subcircuit, family, m.tube == Tube::kBeamTetrode, m.tube == Tube::kVarMu};
  return true;
}

// The current-division pieces of the E2 and G2 lines: Nolt 1/(1 + be*Va), NoltI 1/(1 + be*Va/Vs),
// NoltE Exp(-be*Va*SQRT(be*Va)).
std::string E2Line(const NoltVariant& v) {
  switch (v.family) {
    case NoltVariant::kNolt:
      return v.varmu ? "E2   8 0  VALUE = {Ookg1mOokG2 + Aokg1*V(1,4) - alkg1palskg2/(1 + be*V(1,4))}"
                     : "E2   8 0 VALUE = {Ookg1mOokG2 + Aokg1*V(1,4) - alkg1palskg2/(1 + be*V(1,4))}";
    case NoltVariant::kNoltI:
      return "E2   8 0 VALUE = {Ookg1mOokG2 + Aokg1*V(1,4) - alkg1palskg2/(1+be*V(1,4)/V(2,4))}";
    case NoltVariant::kNoltE:
      break;
  }
  return "E2   8 0 VALUE = {Ookg1mOokG2 + Aokg1*V(1,4) - alkg1palskg2*Exp(-be*V(1,4)*SQRT(be*V(1,4)))}";
}

std::string G1Line(const NoltVariant& v) {
  if (v.varmu) return "G1   1 4  VALUE = {V(9)*V(8)}";
  if (v.tetrode) return "G1   1 4 VALUE = {0.5*(PWR(V(7),EX)+PWRS(V(7),EX))*(V(8)-V(9))}";
  return "G1   1 4  VALUE = {0.5*(PWR(V(7),EX)+PWRS(V(7),EX))*V(8)}";
}

// The beam tetrodes take the secondary-emission current E*V(9) off the anode (G1); the screen collects it,
// so their G2 line adds the same current. Without it the simulated screen current would miss the part of
// the fitted screen current that the emission term carries.
std::string G2Line(const NoltVariant& v) {
  const std::string emission = v.tetrode ? " + 0.5*(PWR(V(7),EX)+PWRS(V(7),EX))*V(9)" : "";
  if (v.varmu) {
    return v.family == NoltVariant::kNolt ? "G2   2 4  VALUE = {V(9)/KG2 * (1+ als/(1+be*V(1,4)))}"
                                          : "G2   2 4 VALUE = {V(9)/KG2 *(1+als*Exp(-be*V(1,4) * SQRT(be*V(1,4))))}";
  }
  switch (v.family) {
    case NoltVariant::kNolt:
      return "G2   2 4 VALUE = {0.5*(PWR(V(7),EX)+PWRS(V(7),EX))/KG2 * (1+ als/(1+be*V(1,4)))" + emission + "}";
    case NoltVariant::kNoltI:
      return "G2   2 4 VALUE = {0.5*(PWR(V(7),EX)+PWRS(V(7),EX))/KG2 * (1+ als/(1+be*V(1,4)/V(2,4)))" + emission +
             "}";
    case NoltVariant::kNoltE:
      break;
  }
  return "G2   2 4 VALUE = {0.5*(PWR(V(7),EX)+PWRS(V(7),EX))/KG2 *(1+als*Exp(-be*V(1,4) * SQRT(be*V(1,4))))" +
         emission + "}";
}

SpiceBody DiodeBody(int32_t, const ParamVector& P, const Slots& s) {
  SpiceBody b;
  b.instance = {
      InstanceLine("('X1 1 2 DiodeK  EX=',F5.3,' k =',F7.1,' eps=',F6.1)", {P[s.ex], P[s.k], P[s.eps]}),
      "+ CCP=0.0P  ;",
  };
  b.model = "DiodeK";
  b.model_pins = " 1 2; A C";
  b.elements = {
      "G1   1 2  VALUE = {0.5/k*(PWR(V(1,2)+eps,EX)+PWRS(V(1,2)+eps,EX))}",
      "C3   1 2  {CCP}   ; CATHODE-PLATE\tA  - C",
  };
  b.ends = ".ENDS DiodeK";
  return b;
}

SpiceBody TriodeBody(int32_t, const ParamVector& P, const Slots& s) {
  SpiceBody b;
  b.instance = {
      InstanceLine("('X1 1 2 3 TriodeK MU=',F6.2,' EX=',F5.3,' KG1=',F6.1,' KP=',F6.1,' KVB=',F6.0,' RGI=2000')",
                 {P[s.mu], P[s.ex], P[s.kG1], P[s.kp], P[s.kVB]}),
      "+ CCG=0.0P  CGP=0.0P CCP=0.0P  ;",
  };
  b.model = "TriodeK";
  b.model_pins = " 1 2 3; A G C";
  b.elements = {
      "E1 7 0 VALUE=",
      "+{V(1,3)/KP*LOG(1+EXP(KP*(1/MU+V(2,3)/SQRT(KVB+V(1,3)*V(1,3)))))}",
      "RE1 7 0 1G",
      "G1 1 3 VALUE={0.5*(PWR(V(7),EX)+PWRS(V(7),EX))/KG1}",
      "RCP 1 3 1G    ; TO AVOID FLOATING NODES IN MU-FOLLOWER",
      "C1 2 3 {CCG}  ; CATHODE-GRID",
      "C2 2 1 {CGP}  ; GRID-PLATE",
      "C3 1 3 {CCP}  ; CATHODE-PLATE",
      "D3 5 3 DX     ; FOR GRID CURRENT",
      "R1 2 5 {RGI}  ; FOR GRID CURRENT",
      kDiodeModelLine,
  };
  b.ends = ".ENDS TriodeK";
  return b;
}

// The Koren pentode. Its grid-current path uses RGI and the diode model DX, so the instance line passes
// RGI=2000 and the model carries the DX definition, as the other grid-current bodies do; otherwise the
// file would not load in a simulator on its own. The screen source rectifies Vs/mu + Vg1 like every other
// power term, so a cut-off tube draws no screen current.
SpiceBody PentodeKBody(int32_t, const ParamVector& P, const Slots& s) {
  SpiceBody b;
  b.instance = {
      InstanceLine("('X1 1 2 3 4 PentodeK  MU=',F5.1,' EX=',F5.3,' kG1=',F6.1,' KP=',F6.1,' kVB =',F7.1,"
                 "' kG2=',F7.1,' RGI=2000')",
                 {P[s.mu], P[s.ex], P[s.kG1], P[s.kp], P[s.kVB], P[s.kG2]}),
      "+ CCG=0.0P  CPG1 = 0.0p CGP=0.0P CCP=0.0P  ;",
  };
  b.model = "PentodeK";
  b.model_pins = " 1 2 3 4 ; A G2 G1 C";
  b.elements = {
      "RE1  7 0  1MEG    ; DUMMY SO NODE 7 HAS 2 CONNECTIONS",
      "E1   7 0  VALUE={V(2,4)/KP*LOG(1+EXP((1/MU+V(3,4)/V(2,4))*KP))}\t",
      "G1   1 4  VALUE={0.5*(PWR(V(7),EX)+PWRS(V(7),EX))/KG1*ATAN(V(1,4)/KVB)}",
      " G2   2 4  VALUE={0.5*(PWR(V(2,4)/MU+V(3,4),EX)+PWRS(V(2,4)/MU+V(3,4),EX))/KG2}",
      "RCP  1 4  1G      ; FOR CONVERGENCE\tA  - C",
      "C1   3 4  {CCG}   ; CATHODE-GRID 1\tC  - G1",
      "C2   1 3  {CPG1}  ; GRID 1-PLATE\tG1 - A",
      "C3   1 4  {CCP}   ; CATHODE-PLATE\tA  - C",
      "R1   3 5  {RGI}   ; FOR GRID CURRENT\tG1 - 5",
      "D3   5 4  DX      ; FOR GRID CURRENT\t5  - C",
      kDiodeModelLine,
  };
  b.ends = ".ENDS PENTODE";
  return b;
}

SpiceBody NoltBody(int32_t iModel, const ParamVector& P, const Slots& s) {
  NoltVariant v{};
  SpiceBody b;
  if (!NoltVariantOf(iModel, v)) return b;
  const SpiceCoefficients c = CombinedCoefficients(P, s);
  const std::string model = v.model;
  const char* mu_field = v.tetrode ? "F6.2" : "F5.1";
  const char* kvb_text = v.tetrode ? " kVB =" : " kVB = ";
  const char* coef_field = v.tetrode ? "E8.3" : "E7.2";
  const char* be_field = v.family == NoltVariant::kNoltE || v.tetrode ? "F6.3" : "F6.2";
  const bool caps_b = v.family == NoltVariant::kNoltE || v.tetrode;

  b.instance.push_back(InstanceLine("('X1 1 2 3 4 " + model + "  MU='," + mu_field + ",' EX=',F5.3,' kG1=',F6.1,"
                                      "' KP=',F6.1,'" + kvb_text + "',F7.1,' kG2=',F7.1)",
                                  {P[s.mu], P[s.ex], P[s.kG1], P[s.kp], P[s.kVB], P[s.kG2]}));
  if (v.tetrode) {
    b.instance.push_back(InstanceLine("('+Sc=',E7.2,' ap=',F6.3,' w=',F7.0,' nu=',F6.2,' lam=',F8.1)",
                                    {P[s.Sc], P[s.alpha_p], P[s.w], P[s.nu], P[s.lambda]}));
  }
  if (v.varmu) {
    b.instance.push_back(
        InstanceLine("('+ MUb=',F5.1,' EXb=',F5.3,' svar=',F6.3)", {P[s.mu_b], P[s.ex_b], P[s.svar]}));
  }
  b.instance.push_back(InstanceLine(std::string("('+ Ookg1mOokG2=',") + coef_field + ",' Aokg1=',E7.2," +
                                      "' alkg1palskg2='," + coef_field + ",' be='," + be_field +
                                      ",' als=',F6.2,' RGI=2000')",
                                  {c.Ookg1mOokG2, c.Aokg1, c.alkg1palskg2, P[s.beta], P[s.alpha_s]}));
  b.instance.push_back(caps_b ? kCapsB : kCapsA);

  b.model = model;
  b.model_pins = " 1 2 3 4; A G2 G1 C";
  b.elements.push_back("RE1  7 0  1MEG    ; DUMMY SO NODE 7 HAS 2 CONNECTIONS");
  b.elements.push_back(v.varmu ? "E1   7 0  VALUE=" : "E1 7 0 VALUE=");
  b.elements.push_back(kTriodeE1Tail);
  if (v.varmu) {
    b.elements.push_back("E11 17 0  VALUE=");
    b.elements.push_back("+{V(2,4)/KP*LOG(1+EXP(KP*(1/MUb+V(3,4)/SQRT(KVB+V(2,4)*V(2,4)))))}");
    b.elements.push_back(
        "E20  9 0  VALUE = {(1-svar)*0.5*(PWR(V(7),EX)+PWRS(V(7),EX))+ svar*0.5*(PWR(V(17),EXb)+PWRS(V(17),EXb))}");
  }
  b.elements.push_back(E2Line(v));
  if (v.tetrode) {
    b.elements.push_back("E3   9 0 VALUE = {Sc/kG2*V(1,4)*(1+tanh(-ap*(V(1,4)-V(2,4)/lam+w+nu*V(3,4))))}");
  }
  b.elements.push_back(G1Line(v));
  b.elements.push_back(G2Line(v));
  const std::vector<std::string> tail = {
      "RCP  1 4  1G      ; FOR CONVERGENCE\tA  - C",
      "C1   3 4  {CCG1}   ; CATHODE-GRID 1\tC  - G1",
      "C4   2 4  {CCG2}   ; CATHODE-GRID 2\tC  - G2",
      "C5   2 3  {CG1G2}   ; GRID 1 -GRID 2\tG1  - G2",
      "C2   1 3  {CPG1}  ; GRID 1-PLATE\tG1 - A",
      "C3   1 4  {CCP}   ; CATHODE-PLATE\tA  - C",
      "R1   3 5  {RGI}   ; FOR GRID CURRENT\tG1 - 5",
      "D3   5 4  DX      ; FOR GRID CURRENT\t5  - C",
      kDiodeModelLine,
  };
  b.elements.insert(b.elements.end(), tail.begin(), tail.end());
  b.ends = ".ENDS " + model;
  return b;
}

// The lines that the hexode/heptode and the g3 pentode share after their E2 line.
const std::vector<std::string>& FiveElectrodeTail() {
  static const std::vector<std::string> tail = {
      "RCP  1 5  1G      ; FOR CONVERGENCE\tA  - C",
      "C1   4 5  {CCG1}   ; CATHODE-GRID 1\tC  - G1",
      "C4   2 5  {CCG3}   ; CATHODE-GRID 3\tC  - G3",
      "C5   2 4  {CG1G3}   ; GRID 1 -GRID 3\tG1  - G3",
      "C2   1 4  {CPG1}  ; GRID 1-PLATE\tG1 - A",
      "C3   1 5  {CCP}   ; CATHODE-PLATE\tA  - C",
      "R1   4 15 {RGI}   ; FOR GRID CURRENT\tG1 - 5",
      "D3  15 5  DX      ; FOR GRID CURRENT\t5  - C",
      kDiodeModelLine,
  };
  return tail;
}

const char kFiveElectrodeE1Tail[] =
    "+{V(3,5)/KP*LOG(1+EXP(KP*(1/MU+(V(2,5)/Mu3+V(4,5))/SQRT(KVB+V(3,5)*V(3,5)))))}";
const char kFiveElectrodeE3[] = "E3   9 0  VALUE = {0.5*(PWR(V(7),EX)+PWRS(V(7),EX))}";
const char kFiveElectrodeE5[] = "E5   11 0  VALUE ={0.5*(PWR(V(10),EXX)+PWRS(V(10),EXX))/kg1p}";

SpiceBody HepthodeBody(int32_t, const ParamVector& P, const Slots& s) {
  const SpiceCoefficients c = CombinedCoefficients(P, s);
  SpiceBody b;
  b.instance = {
      InstanceLine("('X1 1 2 3 4 5 HepthodeN MU=',F5.1,' MU3=',E6.1,' EX=',F5.3,' kG1=',F6.1,' KP=',F6.1,"
                 "' kVB = ',F7.1,' kG2=',F7.1)",
                 {P[s.mu], P[s.mu3], P[s.ex], P[s.kG1], P[s.kp], P[s.kVB], P[s.kG2]}),
      InstanceLine("('+ MUp=',F5.1,' EXX=',F5.3,' kG1p=',F6.0,' KPp=',F7.1,' kVBp = ',F7.1)",
                 {P[s.mu_p], P[s.ex_p], P[s.kG1_p], P[s.kp_p], P[s.kVB_p]}),
      InstanceLine("('+ Ookg1mOokG2=',E7.2,' Aokg1=',E8.2,' al=',E8.2,' alkg1palskg2=',E7.2,' be=',F6.2,"
                 "' als=',F6.2,' RGI=2000')",
                 {c.Ookg1mOokG2, c.Aokg1, c.al, c.alkg1palskg2, P[s.beta], P[s.alpha_s]}),
      "+ CCG1=0.0P  CCG3 = 0.0p CPG1 = 0.0p CG1G3 = 0.0p CCP=0.0P  ;",
  };
  b.model = "HepthodeN";
  b.model_pins = " 1 2 3 4 5; A G3 G2G4 G1 C";
  b.elements = {
      "RE1  7 0  1MEG    ; DUMMY SO NODE 7 HAS 2 CONNECTIONS",
      "E1 7 0 VALUE=",
      kFiveElectrodeE1Tail,
      "E2   8 0 VALUE = {Ookg1mOokG2 + Aokg1*V(1,5) - alkg1palskg2/(1 + be*V(1,5))}",
      kFiveElectrodeE3,
      "E4 10 0 VALUE=",
      "+{V(3,5)/KPp*LOG(1+EXP(KPp*(1/MUp+V(2,5)/SQRT(KVBp+V(3,5)*V(3,5)))))}",
      kFiveElectrodeE5,
      "G1   1 5 VALUE = {V(8)*V(9)*V(11)}",
      "G2   3 5 VALUE = {V(9)/kg1 *(1+Aokg1*kg1*V(1,5)- al/(1+be*V(1,5))) - V(8)*V(9)*V(11)}",
  };
  b.elements.insert(b.elements.end(), FiveElectrodeTail().begin(), FiveElectrodeTail().end());
  b.ends = ".ENDS HepthodeN";
  return b;
}

SpiceBody Penthodeg3Body(int32_t, const ParamVector& P, const Slots& s) {
  const SpiceCoefficients c = CombinedCoefficients(P, s);
  SpiceBody b;
  b.instance = {
      InstanceLine("('X1 1 2 3 4 5 Penthodeg3NE MU=',F5.1,' MU3=',E6.1,' EX=',F5.3,' kG1=',F6.1,' KP=',F6.1,"
                 "' kVB = ',F7.1,' kG2=',F7.1)",
                 {P[s.mu], P[s.mu3], P[s.ex], P[s.kG1], P[s.kp], P[s.kVB], P[s.kG2]}),
      InstanceLine("('+ MUp=',F5.1,' EXX=',F5.3,' kG1p=',F6.1,' V0=',F6.1)",
                 {P[s.mu_p], P[s.ex_p], P[s.kG1_p], P[s.V0]}),
      InstanceLine("('+ Ookg1mOokG2=',E7.2,' Aokg1=',E7.2,' al=',E8.2,' alkg1palskg2=',E7.2,' be=',F6.2,"
                 "' als=',F6.2,' RGI=2000')",
                 {c.Ookg1mOokG2, c.Aokg1, c.al, c.alkg1palskg2, P[s.beta], P[s.alpha_s]}),
      "+ CCG1=0.0P  CCG2 = 0.0p CCG3 = 0.0p CPG1 = 0.0p  CG1G2 = 0.0p CG1G3 = 0.0p CCP=0.0P  ;",
  };
  b.model = "Penthodeg3NE";
  b.model_pins = " 1 2 3 4 5; A G3 G2 G1 C";
  b.elements = {
      "RE1  7 0  1MEG    ; DUMMY SO NODE 7 HAS 2 CONNECTIONS",
      "E1 7 0 VALUE=",
      kFiveElectrodeE1Tail,
      "E2   8 0 VALUE = {Ookg1mOokG2 + Aokg1*V(1,5) - alkg1palskg2*Exp(-be*V(1,5)*SQRT(be*V(1,5)))}",
      kFiveElectrodeE3,
      "E4 10 0 VALUE= {V0 + V(2,5) + V(1,5)/mup}",
      kFiveElectrodeE5,
      "G1   1 5 VALUE = {V(8)*V(9)*(1-Exp(-V(11)))}",
      "G2   3 5 VALUE = {V(9)/kg1 *(1+Aokg1*kg1*V(1,5)- al*Exp(-be*V(1,5)*SQRT(be*V(1,5)))) - "
      "V(8)*V(9)*(1-Exp(-V(11)))}",
  };
  b.elements.insert(b.elements.end(), FiveElectrodeTail().begin(), FiveElectrodeTail().end());
  b.ends = ".ENDS Penthodeg3NE";
  return b;
}

// Every body, by the name the model entries give it.
struct NamedBody {
  const char* name;
  SpiceBody (*make)(int32_t iModel, const ParamVector& P, const Slots& s);
};
constexpr NamedBody kBodies[] = {
    {"Diode", DiodeBody},       {"Triode", TriodeBody},         {"PentodeK", PentodeKBody},
    {"Nolt", NoltBody},         {"Hepthode", HepthodeBody},     {"Penthodeg3", Penthodeg3Body},
};

}  // namespace

bool BodyFor(int32_t iModel, const ParamVector& P, const Slots& s, SpiceBody& body) {
  const char* name = ModelInfoFor(iModel).body;
  if (name == nullptr) return false;
  for (const NamedBody& b : kBodies) {
    if (std::strcmp(b.name, name) != 0) continue;
    body = b.make(iModel, P, s);
    return true;
  }
  return false;
}

}  // namespace tubefit
