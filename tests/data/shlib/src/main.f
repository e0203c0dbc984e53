      program main
      call user
      end
