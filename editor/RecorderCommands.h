#pragma once

// The main window's commands that the step editor's shortcut keys run.
class RecorderCommands
{
public:
    virtual ~RecorderCommands() = default;

    virtual void lblStepBack_Click() = 0; // Step back   (Ctrl+Z)
    virtual void lblSkip_Click() = 0;     // Skip step   (Ctrl+N)
    virtual void Label2_Click() = 0;      // Play        (Ctrl+P)
    virtual void lblRestart_Click() = 0;  // Reset       (Ctrl+W)
    virtual void lblUpload_Click() = 0;   // Upload      (Ctrl+U)
    virtual void mCheck_Click() = 0;      // Check transaction (Ctrl+K)
};
