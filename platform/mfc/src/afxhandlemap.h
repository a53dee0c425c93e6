// Internal to the subset: the per-thread maps from Win32 handles to the MFC
// objects that wrap them, as MFC keeps one for each kind of handle.
#pragma once

#include <unordered_map>

template <class THandle, class TObject>
struct CAfxHandleMaps
{
    // Objects that own their handle (Attach); FromHandle hands these out first.
    std::unordered_map<THandle, TObject*> permanent;
    // Wrappers made by FromHandle; they borrow the handle until idle time.
    std::unordered_map<THandle, TObject*> temporary;

    // Held by a plain pointer so that no thread-local destructor runs at DLL
    // unload; a thread's maps live as long as the thread.
    static CAfxHandleMaps& ForThisThread()
    {
        thread_local CAfxHandleMaps* t_pMaps = nullptr;
        if (t_pMaps == nullptr)
            t_pMaps = new CAfxHandleMaps;
        return *t_pMaps;
    }

    // Deletes the temporary wrappers without touching their handles;
    // pfnRelease clears an object's handle member first.
    template <class TRelease>
    void DeleteTemporaries(TRelease pfnRelease)
    {
        std::unordered_map<THandle, TObject*> old;
        old.swap(temporary);
        for (auto& entry : old)
        {
            pfnRelease(entry.second);
            delete entry.second;
        }
    }
};
