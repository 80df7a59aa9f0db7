// What a host asks of an export plug-in library: the class descriptor it
// creates exporters through, and the scene-export interface itself. Both are
// laid out as the host calls them, by place in the virtual table: a host
// compiled elsewhere calls place n, so no compiler may add or split a slot.
// The descriptor therefore has no virtual destructor (the host never deletes
// it), and the exporter's destructor is the one slot the platform's hosts
// know, taking the flag that says whether to free the memory as well.
#pragma once

#include <cstdint>
#include <memory>

#include "host/Interface.h"

namespace host {

constexpr uint32_t SCENE_EXPORT_CLASS_ID = 0xA20;
// The plug-in interface version a library must answer from LibVersion.
constexpr uint32_t VERSION_PLUGIN_API = 0x07D00500;

class SceneExport {
public:
    // Place 1: ends the object and, when bit 1 of flags is set, frees its
    // memory; answers the object. Hosts destroy exporters with flags 1.
    virtual void* DeletingDestructor(unsigned int flags) = 0;
    virtual int ExtCount() = 0;
    virtual const char* Ext(int n) = 0;
    virtual const char* LongDesc() = 0;
    virtual const char* ShortDesc() = 0;
    virtual const char* AuthorName() = 0;
    virtual const char* CopyrightMessage() = 0;
    virtual const char* OtherMessage1() = 0;
    virtual const char* OtherMessage2() = 0;
    virtual unsigned int Version() = 0;
    virtual void ShowAbout(void* parentWindow) = 0;
    // 1 when the export completed or was cancelled, 0 when a file failed.
    virtual int DoExport(const char* name, void* expInterface, Interface* ip, int suppressPrompts) = 0;

protected:
    ~SceneExport() = default;
};

// Destroys an exporter the way its host does.
struct DeleteExporter {
    void operator()(SceneExport* e) const {
        if (e) e->DeletingDestructor(1);
    }
};
using ExporterPtr = std::unique_ptr<SceneExport, DeleteExporter>;

class ClassDesc {
public:
    virtual int IsPublic() = 0;
    virtual void* Create(int loading) = 0;
    virtual int BeginCreate(void* ip) = 0;
    virtual int EndCreate(void* ip) = 0;
    virtual const char* ClassName() = 0;
    virtual uint32_t SuperClassID() = 0;
    // Compilers disagree on how a member function returns a structure (where
    // the hidden pointer goes beside `this`); the place spells out the one the
    // platform's hosts use: the caller's buffer after `this`, answered back.
    virtual Class_ID* ClassID(Class_ID* result) = 0;
    virtual const char* Category() = 0;
    virtual int OkToCreate(void* ip) = 0;
    virtual int HasClassParams() = 0;
    virtual void EditClassParams(void* hwnd) = 0;
    virtual void ResetClassParams(int fileReset) = 0;
    virtual int NumActionTables() = 0;
    virtual void* GetActionTable(int i) = 0;
    // Whether the class manipulates ref, a node or object of the scene.
    virtual int IsManipulator(void* ref) = 0;

protected:
    ~ClassDesc() = default;
};

// Entry points a plug-in library exports by name, with C linkage.
using LibDescriptionFn = const char* (*)();
using LibNumberClassesFn = int (*)();
using LibClassDescFn = ClassDesc* (*)(int);
using LibVersionFn = unsigned long (*)();

}  // namespace host
