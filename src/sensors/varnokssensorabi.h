#pragma once

/*
 * The binary interface between the sensor reader and a run-time loaded sensor
 * source. A source is a shared library that exports the six C functions below
 * under exactly these names; the reader resolves all six right after loading
 * and refuses the library when one is missing. Three more are optional.
 *
 * Calls are never made from two threads at once: the reader makes its calls
 * from one thread until the search has finished and from the GUI thread after
 * that. Integers are signed 32-bit. Texts are zero-terminated Latin-1.
 */

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define VARNOKS_SENSOR_EXPORT __attribute__((visibility("default")))

/* Reading kinds queried by the reader. */
#define VARNOKS_READING_TEMPERATURE 1 /* degrees, unit text says which scale */
#define VARNOKS_READING_FAN 3         /* revolutions per minute */

/* Slot indices run from 0 to VARNOKS_READING_SLOTS - 1 for each kind. */
#define VARNOKS_READING_SLOTS 512
/* Size of the buffer the reader passes for a sensor name. */
#define VARNOKS_SENSOR_NAME_SIZE 256

#define VARNOKS_READING_UNIT_SIZE 312
#define VARNOKS_READING_LABEL_SIZE 136

/* State of a reading that is not valid because its device sleeps (a
 * runtime-suspended graphics card): the reading exists and comes back when
 * the device wakes, so the search may choose it; the source did not wake the
 * device to read it. */
#define VARNOKS_READING_ASLEEP 1

/* One reading, 464 bytes. The reader clears it before each query and reads
 * valid, state, value, unit and label; a source need not fill more. A text that
 * fills its whole field without a terminator is cut at the field's end. */
typedef struct VarnoksSensorReading
{
    int32_t valid;                          /* offset 0: non-zero when value holds a current reading */
    int32_t state;                          /* VARNOKS_READING_ASLEEP or 0 */
    double value;                           /* offset 8 */
    char unit[VARNOKS_READING_UNIT_SIZE];   /* offset 16, e.g. "\xb0""C" or "RPM" */
    char label[VARNOKS_READING_LABEL_SIZE]; /* offset 328 */
} VarnoksSensorReading;

/* Returns 0 on success, any other value is an error code. The reader passes 64. */
typedef int32_t (*VarnoksSensorInitialiseFn)(int32_t nFlags);
typedef void (*VarnoksSensorShutdownFn)(void);
/* Number of sensors; indices run from 0 to count - 1. */
typedef int32_t (*VarnoksSensorCountFn)(void);
/* Takes a fresh snapshot of one sensor's values; later reads answer from it. */
typedef int32_t (*VarnoksSensorRefreshFn)(int32_t nSensor);
/* Writes the sensor's name into the buffer, always terminated within nSize. */
typedef int32_t (*VarnoksSensorNameFn)(int32_t nSensor, char* pBuffer, int32_t nSize);
/* Non-zero when the query succeeded and the record was filled. */
typedef int32_t (*VarnoksSensorReadFn)(int32_t nKind, int32_t nSensor, int32_t nSlot,
                                       VarnoksSensorReading* pReading);
/* Optional: where a reading comes from, as "chip:feature" (e.g.
 * "k10temp-pci-00c3:temp1"), and the rule that made the source offer it as
 * one of the three readings the program shows (empty when it is none of
 * them). Both texts are always terminated within their sizes. Returns
 * non-zero when the reading exists. */
typedef int32_t (*VarnoksSensorExplainFn)(int32_t nKind, int32_t nSensor, int32_t nSlot, char* pOrigin,
                                          int32_t nOriginSize, char* pRule, int32_t nRuleSize);
/* Optional: the reading's stable identity, the one the user's choice of a
 * reading is stored as: "chip:feature" as `sensors` names it (e.g.
 * "nct6798-isa-0290:fan2"; an NVIDIA GPU read through its driver is
 * "nvidia-<PCI address>:temp"). It must not depend on the order in which the
 * chips were found. pLabel receives the reading's label as the machine names
 * it, before the source composed its own. Both texts are always terminated
 * within their sizes. Returns non-zero when the reading exists and has an
 * identity. */
typedef int32_t (*VarnoksSensorIdentityFn)(int32_t nKind, int32_t nSensor, int32_t nSlot, char* pIdentity,
                                           int32_t nIdentitySize, char* pLabel, int32_t nLabelSize);
/* Optional: messages the source collected while initialising (one per line),
 * or an empty text. The pointer stays valid until the next initialise. */
typedef const char* (*VarnoksSensorDiagnosticsFn)(void);

#define VARNOKS_SENSOR_INITIALISE_SYMBOL "varnoks_sensor_initialise"
#define VARNOKS_SENSOR_SHUTDOWN_SYMBOL "varnoks_sensor_shutdown"
#define VARNOKS_SENSOR_COUNT_SYMBOL "varnoks_sensor_count"
#define VARNOKS_SENSOR_REFRESH_SYMBOL "varnoks_sensor_refresh"
#define VARNOKS_SENSOR_NAME_SYMBOL "varnoks_sensor_name"
#define VARNOKS_SENSOR_READ_SYMBOL "varnoks_sensor_read"
#define VARNOKS_SENSOR_DIAGNOSTICS_SYMBOL "varnoks_sensor_diagnostics"
#define VARNOKS_SENSOR_EXPLAIN_SYMBOL "varnoks_sensor_explain"
#define VARNOKS_SENSOR_IDENTITY_SYMBOL "varnoks_sensor_identity"

/* Declarations of the entry points; the last three are optional. */
VARNOKS_SENSOR_EXPORT int32_t varnoks_sensor_initialise(int32_t nFlags);
VARNOKS_SENSOR_EXPORT void varnoks_sensor_shutdown(void);
VARNOKS_SENSOR_EXPORT int32_t varnoks_sensor_count(void);
VARNOKS_SENSOR_EXPORT int32_t varnoks_sensor_refresh(int32_t nSensor);
VARNOKS_SENSOR_EXPORT int32_t varnoks_sensor_name(int32_t nSensor, char* pBuffer, int32_t nSize);
VARNOKS_SENSOR_EXPORT int32_t varnoks_sensor_read(int32_t nKind, int32_t nSensor, int32_t nSlot,
                                                  VarnoksSensorReading* pReading);
VARNOKS_SENSOR_EXPORT const char* varnoks_sensor_diagnostics(void);
VARNOKS_SENSOR_EXPORT int32_t varnoks_sensor_explain(int32_t nKind, int32_t nSensor, int32_t nSlot,
                                                     char* pOrigin, int32_t nOriginSize, char* pRule,
                                                     int32_t nRuleSize);
VARNOKS_SENSOR_EXPORT int32_t varnoks_sensor_identity(int32_t nKind, int32_t nSensor, int32_t nSlot,
                                                      char* pIdentity, int32_t nIdentitySize, char* pLabel,
                                                      int32_t nLabelSize);

#ifdef __cplusplus
}

static_assert(sizeof(VarnoksSensorReading) == 464, "reading record is 464 bytes");
static_assert(offsetof(VarnoksSensorReading, valid) == 0, "valid at 0");
static_assert(offsetof(VarnoksSensorReading, state) == 4, "state at 4");
static_assert(offsetof(VarnoksSensorReading, value) == 8, "value at 8");
static_assert(offsetof(VarnoksSensorReading, unit) == 16, "unit at 16");
static_assert(offsetof(VarnoksSensorReading, label) == 328, "label at 328");
#endif
