// The small picture in the upload dialog's corner: a firmware sheet
// sending packets into a chip. Frame 0 is the idle picture; a run plays the
// others in a loop.
#pragma once

#include <QWidget>

class QTimer;

#define ANIMATION_WIDTH 33
#define ANIMATION_HEIGHT 32
#define ANIMATION_FRAMES 18
#define ANIMATION_FRAME_MS 50

class UploadAnimation : public QWidget
{
    Q_OBJECT
  public:
    explicit UploadAnimation(QWidget *parent = nullptr);

    // Shows frame 0, not playing.
    void Open();
    // Plays frames 1 to the last, again and again.
    void Play();
    void Stop();
    void Seek(int frame);

    int CurrentFrame() const { return frame_; }
    bool IsPlaying() const;

    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent *event) override;

  private:
    void Advance();

    QTimer *timer_;
    int frame_ = 0;
};
