/* The GoldMine API library's C functions, as the program calls them. The
 * library is loaded by name at run time; the Linux stand-in (standin/gm7s32)
 * implements exactly these declarations.
 *
 * Text is zero-terminated 8-bit text in the local encoding. Handles, sizes and
 * results are 32-bit signed integers; a negative result is a failure.
 *
 * Characters: wherever the API counts characters (a field's width, the 35
 * characters of an e-mail record's reference field before the rest goes on in
 * its overflow field), a character is a code point of the 8-bit text as it
 * crosses the API: one byte in a single-byte code page, one UTF-8 sequence
 * where the local encoding is UTF-8 (text that is not valid UTF-8 counts its
 * bytes). Text is never cut inside a character. The program counts the same
 * way on its side (goldmine/ApiText.h): a character outside the Basic
 * Multilingual Plane is one character, not two UTF-16 code units. */
#ifndef GM7S32_H
#define GM7S32_H

#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define GMW_CALL __stdcall
#else
#define GMW_CALL
#endif

#if defined(_WIN32)
#define GMW_EXPORT __declspec(dllexport)
#else
#define GMW_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Opens the API. Zero or more: ready; negative: minus the reason code
 * (1 cannot start, 4 user or password refused, 5 no CAL table in the GoldMine
 * database, 6 no CONTACT1 table in the common database). */
GMW_EXPORT int32_t GMW_CALL GMW_LoadBDE(const char *sysDir, const char *goldDir,
                                        const char *commonDir, const char *userName,
                                        const char *password);

/* Runs one read-only SQL statement; the three further texts are passed as null.
 * Positive: a query handle; zero or negative: failure. */
GMW_EXPORT int32_t GMW_CALL GMW_DS_Query(const char *sql, const char *filter, const char *fields,
                                         const char *order);

/* Sizing call (size 0, count > 0): prepares up to count records and answers the
 * size of their text. Reading call (size as answered, count 0): fills buffer,
 * which holds size + 1 bytes, and answers the text's length. */
GMW_EXPORT int32_t GMW_CALL GMW_DS_Fetch(int32_t handle, char *buffer, int32_t size, int32_t count);

GMW_EXPORT int32_t GMW_CALL GMW_DS_Close(int32_t handle);

GMW_EXPORT int32_t GMW_CALL GMW_NV_Create(void);
GMW_EXPORT int32_t GMW_CALL GMW_NV_SetValue(int32_t container, const char *name, const char *value);
GMW_EXPORT int32_t GMW_CALL GMW_NV_AppendNvValue(int32_t container, const char *name,
                                                 int32_t nested);
/* The returned text stays valid until the container is next changed, emptied
 * or deleted; defaultValue itself is returned when the name is absent. */
GMW_EXPORT const char *GMW_CALL GMW_NV_GetValue(int32_t container, const char *name,
                                                const char *defaultValue);
GMW_EXPORT int32_t GMW_CALL GMW_NV_EraseAll(int32_t container);
GMW_EXPORT int32_t GMW_CALL GMW_NV_Delete(int32_t container);

/* Runs a business-logic call on the container's values and leaves its outputs
 * in the same container. Zero or more: success. GoldMine does not document
 * its failure codes; the Linux stand-in's are named in
 * standin/gm7s32/Store.h: from -1 to -8 the call or its values are at fault,
 * from -9 down the database failed (-10 busy, -11 read-only, -12 full,
 * -13 I/O error or damaged file). */
GMW_EXPORT int32_t GMW_CALL GMW_Execute(const char *callName, int32_t container);

/* Not GoldMine's: the Linux stand-in's own account of why the last
 * GMW_LoadBDE failed, for the operator (which file, and what the database
 * reported about it); "" after a success or where it has nothing to add. The
 * text stays valid until the next GMW_LoadBDE. The real library has no such
 * function, so a caller binds it only where it exists. */
GMW_EXPORT const char *GMW_CALL GM7S32_LoadFailureReason(void);

/* Pointer types for binding the functions by name. */
typedef int32_t(GMW_CALL *GMW_LoadBDE_Fn)(const char *, const char *, const char *, const char *,
                                          const char *);
typedef int32_t(GMW_CALL *GMW_DS_Query_Fn)(const char *, const char *, const char *, const char *);
typedef int32_t(GMW_CALL *GMW_DS_Fetch_Fn)(int32_t, char *, int32_t, int32_t);
typedef int32_t(GMW_CALL *GMW_DS_Close_Fn)(int32_t);
typedef int32_t(GMW_CALL *GMW_NV_Create_Fn)(void);
typedef int32_t(GMW_CALL *GMW_NV_SetValue_Fn)(int32_t, const char *, const char *);
typedef int32_t(GMW_CALL *GMW_NV_AppendNvValue_Fn)(int32_t, const char *, int32_t);
typedef const char *(GMW_CALL *GMW_NV_GetValue_Fn)(int32_t, const char *, const char *);
typedef int32_t(GMW_CALL *GMW_NV_EraseAll_Fn)(int32_t);
typedef int32_t(GMW_CALL *GMW_NV_Delete_Fn)(int32_t);
typedef int32_t(GMW_CALL *GMW_Execute_Fn)(const char *, int32_t);
typedef const char *(GMW_CALL *GM7S32_LoadFailureReason_Fn)(void);

#ifdef __cplusplus
}
#endif

#endif /* GM7S32_H */
