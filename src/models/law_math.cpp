#include "models/law_math.h"

#include "models/law_functions.h"

namespace tubefit {
namespace law {

float Math<float>::Exp(float x) { return fn::FloatExp(x); }
float Math<float>::Log(float x) { return fn::FloatLog(x); }
float Math<float>::Pow(float x, float y) { return fn::FloatPow(x, y); }
float Math<float>::Tanh(float x) { return fn::FloatTanh(x); }
float Math<float>::Atan(float x) { return fn::FloatAtan(x); }

double Math<double>::Exp(double x) { return fn::ExpOf(x); }
double Math<double>::Log(double x) { return fn::LogOf(x); }
double Math<double>::Pow(double x, double y) { return fn::PowDouble(x, y); }
double Math<double>::Tanh(double x) { return fn::TanhDouble(x); }
double Math<double>::Atan(double x) { return fn::AtanOf(x); }

}  // namespace law
}  // namespace tubefit
